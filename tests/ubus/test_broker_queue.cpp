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
	Bytes recv_msg()
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

} // namespace
