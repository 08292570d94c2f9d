// The broker's buffers: output held for a client that does not read, and
// large messages before and after the connection goes quiet for a while
// (the broker gives grown buffers back then).
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <linux/sockios.h>

#include <cstring>
#include <vector>

#include <ubusmsg.h>
#include "testlib.h"

namespace {

using Bytes = std::vector<uint8_t>;

// PING whose root holds one attribute of body bytes, the broker does not look
// into; the filling depends on seq so that a mixed-up reply shows.
Bytes ping(uint16_t seq, size_t body)
{
	Bytes m(12 + body);
	size_t root = 4 + body;

	m[1] = UBUS_MSG_PING;
	m[2] = seq >> 8;
	m[3] = seq;
	m[9] = root >> 16;
	m[10] = root >> 8;
	m[11] = root;
	m[13] = body >> 16;
	m[14] = body >> 8;
	m[15] = body;
	for (size_t i = 16; i < m.size(); i++)
		m[i] = (uint8_t) (i * 7 + seq);
	return m;
}

struct Queue : ::testing::Test {
	struct broker br = {};
	int fd = -1;

	void SetUp() override
	{
		signal(SIGPIPE, SIG_IGN);
		ASSERT_TRUE(broker_start(&br));
		fd = raw_connect(br.path);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(recv_msg().size(), 12u); // HELLO
	}
	void TearDown() override
	{
		if (fd >= 0)
			close(fd);
		broker_stop(&br);
	}

	// One message; empty on EOF or when nothing comes within 5 s.
	Bytes recv_msg() { return recv_from(fd); }
	static Bytes recv_from(int fd)
	{
		Bytes m(12);
		size_t have = 0;

		while (have < m.size()) {
			struct pollfd p = { fd, POLLIN, 0 };
			ssize_t n;

			if (poll(&p, 1, 5000) <= 0)
				return {};
			n = read(fd, m.data() + have, m.size() - have);
			if (n <= 0)
				return {};
			have += n;
			if (have == 12)
				m.resize(8 + (((size_t) m[9] << 16) | (m[10] << 8) | m[11]));
		}
		return m;
	}

	void send_all(const uint8_t *p, size_t len)
	{
		while (len) {
			ssize_t n = send(fd, p, len, MSG_NOSIGNAL);

			ASSERT_GT(n, 0) << strerror(errno);
			p += n;
			len -= n;
		}
	}

	// The PING answered: DATA with its bytes, then STATUS 0.
	void expect_echo(const Bytes &m)
	{
		Bytes data = recv_msg(), status = recv_msg();

		ASSERT_EQ(data.size(), m.size());
		EXPECT_EQ(data[1], UBUS_MSG_DATA);
		EXPECT_TRUE(!memcmp(data.data() + 2, m.data() + 2, m.size() - 2));
		ASSERT_EQ(status.size(), 20u);
		EXPECT_EQ(status[1], UBUS_MSG_STATUS);
		EXPECT_EQ(status[3], m[3]);
		EXPECT_EQ(status[19], 0);
	}
};

// A client that does not read gets up to 1 MiB queued; a message that does not
// fit is dropped whole, the rest arrives in order, and the connection stays.
TEST_F(Queue, OutputBeyondOneMebibyteIsDroppedWholeAndTheRestKeepsItsOrder)
{
	const int count = 40;
	std::vector<Bytes> sent;
	int outq = -1;

	for (int i = 1; i <= count; i++) {
		sent.push_back(ping(i, 100 * 1024));
		send_all(sent.back().data(), sent.back().size());
	}
	// the broker has read it all, and its sweeps pass while the output waits
	for (int i = 0; i < 500 && (ioctl(fd, SIOCOUTQ, &outq) || outq); i++)
		usleep(10000);
	ASSERT_EQ(outq, 0);
	usleep(800000);

	int data = 0;
	for (int i = 1; i <= count; i++) {
		Bytes m = recv_msg();

		ASSERT_GE(m.size(), 12u) << "seq " << i;
		if (m[1] == UBUS_MSG_DATA) {
			EXPECT_EQ(m.size(), sent[i - 1].size()) << "seq " << i;
			EXPECT_TRUE(!memcmp(m.data() + 2, sent[i - 1].data() + 2, m.size() - 2)) << "seq " << i;
			data++;
			m = recv_msg();
		}
		ASSERT_EQ(m.size(), 20u) << "seq " << i;
		EXPECT_EQ(m[1], UBUS_MSG_STATUS);
		EXPECT_EQ((m[2] << 8) | m[3], i);
	}
	// ten of them fill the queue; the socket holds a few more
	EXPECT_GE(data, 10);
	EXPECT_LT(data, count);

	Bytes small = ping(99, 8);
	send_all(small.data(), small.size());
	expect_echo(small);
}

// Large messages both ways, one of them arriving in two parts with a quiet
// spell between them longer than the broker waits before giving memory back.
TEST_F(Queue, LargeMessagesSurviveQuietSpells)
{
	Bytes whole = ping(1, 200 * 1024), split = ping(2, 200 * 1024), small = ping(3, 8);

	send_all(whole.data(), whole.size());
	expect_echo(whole);
	usleep(800000);

	send_all(split.data(), split.size() / 2);
	usleep(800000);
	send_all(split.data() + split.size() / 2, split.size() - split.size() / 2);
	expect_echo(split);
	usleep(800000);

	send_all(small.data(), small.size());
	expect_echo(small);
}

uint32_t be32(const uint8_t *p)
{
	return ((uint32_t) p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// INVOKE of method "go" on object id, empty data.
Bytes invoke(uint16_t seq, uint32_t id)
{
	Bytes m = { 0, UBUS_MSG_INVOKE, (uint8_t) (seq >> 8), (uint8_t) seq, 0, 0, 0, 0,
		    0, 0, 0, 24, 3, 0, 0, 8, 0, 0, 0, 0, 4, 0, 0, 7, 'g', 'o', 0, 0, 7, 0, 0, 4 };

	for (int i = 0; i < 4; i++)
		m[4 + i] = m[16 + i] = id >> (24 - 8 * i);
	return m;
}

// A caller flooding an owner that is behind is no longer read until the
// owner catches up; a call of another client still gets through, and no
// call of either is lost.
TEST_F(Queue, AFloodToABusyOwnerIsHeldBackAndOtherCallsGetThrough)
{
	static const uint8_t add[] = { 0, UBUS_MSG_ADD_OBJECT, 0, 1, 0, 0, 0, 0, 0, 0, 0, 20,
				       2, 0, 0, 9, 'b', 'u', 's', 'y', 0, 0, 0, 0, 6, 0, 0, 4 };
	const size_t limit = 3 << 20;
	int flooder = raw_connect(br.path), caller = raw_connect(br.path);
	size_t sent = 0;

	ASSERT_GE(flooder, 0);
	ASSERT_GE(caller, 0);
	uint32_t flooder_id = be32(recv_from(flooder).data() + 4);
	uint32_t caller_id = be32(recv_from(caller).data() + 4);
	send_all(add, sizeof(add));
	Bytes data = recv_msg();
	ASSERT_EQ(recv_msg().size(), 20u);
	ASSERT_GE(data.size(), 20u);
	uint32_t id = be32(data.data() + 16);

	// the owner reads nothing meanwhile
	for (uint16_t seq = 1; sent < limit; seq++) {
		Bytes m = invoke(seq, id);
		struct pollfd p = { flooder, POLLOUT, 0 };

		if (send(flooder, m.data(), m.size(), MSG_DONTWAIT | MSG_NOSIGNAL) == (ssize_t) m.size()) {
			sent += m.size();
			continue;
		}
		ASSERT_EQ(errno, EAGAIN);
		if (poll(&p, 1, 200) == 0)
			break;
		seq--;
	}
	EXPECT_LT(sent, limit);
	Bytes call = invoke(7, id);
	ASSERT_EQ(send(caller, call.data(), call.size(), 0), (ssize_t) call.size());

	size_t floods = 0, want = sent / call.size();
	bool called = false;
	while (floods < want || !called) {
		Bytes m = recv_msg();

		ASSERT_GE(m.size(), 12u) << floods << " of " << want << " flooded calls, caller's " << called;
		ASSERT_EQ(m[1], UBUS_MSG_INVOKE);
		uint16_t seq = (m[2] << 8) | m[3];
		if (be32(m.data() + 4) == caller_id) {
			EXPECT_EQ(seq, 7);
			called = true;
		} else {
			EXPECT_EQ(be32(m.data() + 4), flooder_id);
			EXPECT_EQ(seq, (uint16_t) ++floods);
		}
	}
	// the owner answers the caller
	Bytes status = { 0, UBUS_MSG_STATUS, 0, 7, 0, 0, 0, 0, 0, 0, 0, 20,
			 1, 0, 0, 8, 0, 0, 0, 0, 3, 0, 0, 8, 0, 0, 0, 0 };
	for (int i = 0; i < 4; i++) {
		status[4 + i] = caller_id >> (24 - 8 * i);
		status[24 + i] = id >> (24 - 8 * i);
	}
	send_all(status.data(), status.size());
	Bytes reply = recv_from(caller);
	ASSERT_EQ(reply.size(), status.size());
	EXPECT_EQ(reply[1], UBUS_MSG_STATUS);
	EXPECT_EQ(be32(reply.data() + 4), id);
	close(flooder);
	close(caller);
}

} // namespace
