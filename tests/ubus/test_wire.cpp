// The bytes on the socket, recorded by a relay between the clients and our
// broker, against the reference captures of the router's bus.
#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <libubus.h>
#include "testlib.h"

namespace {

enum { C2B, B2C };

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes &v)
{
	std::string s;
	char b[4];

	for (uint8_t c : v) {
		snprintf(b, sizeof(b), s.empty() ? "%02x" : " %02x", c);
		s += b;
	}
	return s;
}

// A printf-formatted hex text in the form hex() prints.
std::string want(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string want(const char *fmt, ...)
{
	char text[2048];
	Bytes v(1024);
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(text, sizeof(text), fmt, ap);
	va_end(ap);
	v.resize(unhex(text, v.data(), v.size()));
	return hex(v);
}

// Passes every connection through to the broker, cutting each direction's
// byte stream into the messages it carries.
class Relay {
	struct Conn {
		int cfd, bfd;
		Bytes pending[2];
	};
	struct Frame {
		int conn, dir;
		Bytes data;
	};

	std::string broker_path;
	int listen_fd = -1, wake[2] = { -1, -1 };
	std::vector<Conn> conns;
	std::mutex lock;
	std::vector<Frame> frames;
	std::thread thread;

	void record(int ci, int dir, const uint8_t *p, size_t n)
	{
		Bytes &s = conns[ci].pending[dir];

		s.insert(s.end(), p, p + n);
		while (s.size() >= 12) {
			size_t total = 8 + (((size_t) s[9] << 16) | ((size_t) s[10] << 8) | s[11]);

			if (s.size() < total)
				return;
			std::lock_guard<std::mutex> g(lock);
			frames.push_back({ ci, dir, Bytes(s.begin(), s.begin() + total) });
			s.erase(s.begin(), s.begin() + total);
		}
	}

	// false when the connection ended
	bool pass(int ci, int dir)
	{
		Conn &c = conns[ci];
		int from = dir == C2B ? c.cfd : c.bfd, to = dir == C2B ? c.bfd : c.cfd;
		uint8_t buf[8192];
		ssize_t r = read(from, buf, sizeof(buf));

		if (r <= 0)
			return false;
		record(ci, dir, buf, r);
		return write(to, buf, r) == r;
	}

	void run()
	{
		for (;;) {
			std::vector<struct pollfd> p = { { wake[0], POLLIN, 0 }, { listen_fd, POLLIN, 0 } };

			for (const Conn &c : conns) {
				p.push_back({ c.cfd, POLLIN, 0 });
				p.push_back({ c.bfd, POLLIN, 0 });
			}
			if (poll(p.data(), p.size(), -1) < 0)
				continue;
			if (p[0].revents)
				return;
			if (p[1].revents & POLLIN) {
				int cfd = accept(listen_fd, NULL, NULL);

				if (cfd >= 0)
					conns.push_back({ cfd, raw_connect(broker_path.c_str()), {} });
				continue;
			}
			for (size_t i = 0; i < conns.size(); i++) {
				for (int dir = C2B; dir <= B2C; dir++) {
					if (p[2 + 2 * i + dir].fd < 0 || !p[2 + 2 * i + dir].revents || pass(i, dir))
						continue;
					close(conns[i].cfd);
					close(conns[i].bfd);
					conns[i].cfd = conns[i].bfd = -1;
					break;
				}
			}
		}
	}

public:
	std::string path;

	bool start(const struct broker &br)
	{
		struct sockaddr_un sun = {};

		broker_path = br.path;
		path = std::string(br.dir) + "/relay.sock";
		sun.sun_family = AF_UNIX;
		snprintf(sun.sun_path, sizeof(sun.sun_path), "%s", path.c_str());
		listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
		if (listen_fd < 0 || bind(listen_fd, (struct sockaddr *) &sun, sizeof(sun)) ||
		    listen(listen_fd, 8) || pipe(wake))
			return false;
		thread = std::thread(&Relay::run, this);
		return true;
	}

	void stop()
	{
		if (thread.joinable()) {
			if (write(wake[1], "x", 1) != 1)
				abort();
			thread.join();
		}
		for (const Conn &c : conns) {
			if (c.cfd >= 0)
				close(c.cfd);
			if (c.bfd >= 0)
				close(c.bfd);
		}
		for (int fd : { listen_fd, wake[0], wake[1] })
			if (fd >= 0)
				close(fd);
		unlink(path.c_str());
	}

	// The idx-th message of a connection in one direction, waiting up to 2 s.
	Bytes frame_bytes(int conn, int dir, int idx)
	{
		double end = now_secs() + 2;

		do {
			{
				std::lock_guard<std::mutex> g(lock);
				int seen = 0;

				for (const Frame &f : frames)
					if (f.conn == conn && f.dir == dir && seen++ == idx)
						return f.data;
			}
			usleep(2000);
		} while (now_secs() < end);
		return {};
	}

	std::string frame(int conn, int dir, int idx)
	{
		Bytes f = frame_bytes(conn, dir, idx);

		return f.empty() ? "(none)" : hex(f);
	}

	// A big-endian word of that message, 0 if it is shorter.
	uint32_t word(int conn, int dir, int idx, size_t off)
	{
		Bytes f = frame_bytes(conn, dir, idx);

		return f.size() < off + 4 ? 0 : be32_to_cpu(*(uint32_t *) (f.data() + off));
	}

	int count(int conn, int dir)
	{
		std::lock_guard<std::mutex> g(lock);
		int n = 0;

		for (const Frame &f : frames)
			n += f.conn == conn && f.dir == dir;
		return n;
	}
};

int gone_cb(struct ubus_context *, struct ubus_object *, struct ubus_request_data *,
	    const char *, struct blob_attr *)
{
	return 0;
}

const struct ubus_method gone_methods[] = { UBUS_METHOD_NOARG("x", gone_cb) };

#define SIG_DEMO \
	"06 00 00 4c " \
	"82 00 00 10 00 06 73 74 61 74 75 73 00 00 00 00 " \
	"82 00 00 38 00 01 6d 00 " \
	"85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 31 00 00 00 00 00 00 00 05 " \
	"85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 32 00 00 00 00 00 00 00 05 "
#define STATUS(seq, peer, st) "00 01 " seq " " peer " 00 00 00 0c 01 00 00 08 00 00 00 " st

struct Wire : ::testing::Test {
	struct broker br = {};
	Relay relay;
	std::vector<struct ubus_context *> ctxs;
	pid_t server = -1;
	int server_out = -1;

	struct ubus_object_type gone_type = UBUS_OBJECT_TYPE("gone", gone_methods);
	struct ubus_object gone_obj = {};

	void SetUp() override
	{
		signal(SIGPIPE, SIG_IGN);
		ASSERT_TRUE(broker_start(&br));
		ASSERT_TRUE(relay.start(br));
		gone_obj.name = "gone";
		gone_obj.type = &gone_type;
		gone_obj.methods = gone_methods;
		gone_obj.n_methods = ARRAY_SIZE(gone_methods);
	}

	void TearDown() override
	{
		for (struct ubus_context *c : ctxs)
			ubus_free(c);
		if (server > 0) {
			kill_wait(server);
			close(server_out);
		}
		relay.stop();
		broker_stop(&br);
	}

	// A client through the relay; connections are numbered in this order.
	struct ubus_context *client()
	{
		struct ubus_context *c = ubus_connect(relay.path.c_str());

		if (c)
			ctxs.push_back(c);
		return c;
	}

	// The test server: demo (status, m with two INT32), demo.two, fmt.
	bool start_server()
	{
		const char *argv[] = { SERVER_BIN, relay.path.c_str(), NULL };

		server = spawn_ready(argv, &server_out);
		return server > 0;
	}

	// The ids the broker gave demo and its type, from its ADD_OBJECT reply.
	void demo_ids(int conn, uint32_t *obj, uint32_t *type)
	{
		ASSERT_EQ(relay.frame_bytes(conn, B2C, 1).size(), 28u);
		*obj = relay.word(conn, B2C, 1, 16);
		*type = relay.word(conn, B2C, 1, 24);
	}
};

TEST_F(Wire, HelloCarriesTheIdAsItCameAndAnEmptyBusListsNothing)
{
	struct ubus_context *a = client();
	int count = 0;

	ASSERT_NE(a, nullptr);
	EXPECT_EQ(relay.frame(0, B2C, 0), want("00 00 00 00 %08x 00 00 00 04", be32_to_cpu(a->local_id)));
	auto list_cb = [](struct ubus_context *, struct ubus_object_data *, void *priv) { ++*(int *) priv; };
	EXPECT_EQ(ubus_lookup(a, NULL, list_cb, &count), 0);
	EXPECT_EQ(count, 0);
	EXPECT_EQ(relay.frame(0, C2B, 0), want("00 04 00 01 00 00 00 00 00 00 00 04"));
	EXPECT_EQ(relay.frame(0, B2C, 1), want(STATUS("00 01", "00 00 00 00", "00")));
	EXPECT_EQ(relay.count(0, C2B), 1);
	EXPECT_EQ(relay.count(0, B2C), 2);
}

TEST_F(Wire, AddObjectSendsTheSignatureOnceThenTheTypeId)
{
	uint32_t obj = 0, type = 0;

	ASSERT_TRUE(start_server());
	EXPECT_EQ(relay.frame(0, C2B, 0), want("00 06 00 01 00 00 00 00 00 00 00 5c "
					       "02 00 00 09 64 65 6d 6f 00 00 00 00 " SIG_DEMO));
	demo_ids(0, &obj, &type);
	EXPECT_EQ(relay.frame(0, B2C, 1), want("00 02 00 01 00 00 00 00 00 00 00 14 "
					       "03 00 00 08 %08x 05 00 00 08 %08x", obj, type));
	EXPECT_EQ(relay.frame(0, B2C, 2), want(STATUS("00 01", "00 00 00 00", "00")));
	EXPECT_EQ(relay.frame(0, C2B, 1), want("00 06 00 02 00 00 00 00 00 00 00 1c "
					       "02 00 00 0d 64 65 6d 6f 2e 74 77 6f 00 00 00 00 "
					       "05 00 00 08 %08x", type));
	// the reply to a known type carries the object id only
	EXPECT_EQ(relay.frame(0, B2C, 3), want("00 02 00 02 00 00 00 00 00 00 00 0c 03 00 00 08 %08x",
					       relay.word(0, B2C, 3, 16)));
	EXPECT_EQ(relay.frame(0, B2C, 4), want(STATUS("00 02", "00 00 00 00", "00")));
}

TEST_F(Wire, ASecondObjectUnderANameInUseIsRefused)
{
	struct ubus_object dup = gone_obj;
	struct ubus_context *a;

	ASSERT_TRUE(start_server());
	ASSERT_NE(a = client(), nullptr);
	dup.name = "demo";
	EXPECT_EQ(ubus_add_object(a, &dup), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(dup.id, 0u);
	EXPECT_EQ(relay.frame(1, B2C, 1), want(STATUS("00 01", "00 00 00 00", "02")));
}

TEST_F(Wire, LookupOfOnePathAndOfAMissingOne)
{
	struct ubus_context *c;
	uint32_t obj = 0, type = 0, id = 0;

	ASSERT_TRUE(start_server());
	demo_ids(0, &obj, &type);
	ASSERT_NE(c = client(), nullptr);
	EXPECT_EQ(ubus_lookup_id(c, "demo", &id), 0);
	EXPECT_EQ(id, obj);
	EXPECT_EQ(relay.frame(1, C2B, 0), want("00 04 00 01 00 00 00 00 00 00 00 10 "
					       "02 00 00 09 64 65 6d 6f 00 00 00 00"));
	EXPECT_EQ(relay.frame(1, B2C, 1), want("00 02 00 01 00 00 00 00 00 00 00 6c "
					       "02 00 00 09 64 65 6d 6f 00 00 00 00 03 00 00 08 %08x "
					       "05 00 00 08 %08x " SIG_DEMO, obj, type));
	EXPECT_EQ(relay.frame(1, B2C, 2), want(STATUS("00 01", "00 00 00 00", "00")));

	EXPECT_EQ(ubus_lookup_id(c, "nothere", &id), UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(relay.frame(1, C2B, 1), want("00 04 00 02 00 00 00 00 00 00 00 10 "
					       "02 00 00 0c 6e 6f 74 68 65 72 65 00"));
	EXPECT_EQ(relay.frame(1, B2C, 3), want(STATUS("00 02", "00 00 00 00", "04")));
	EXPECT_EQ(relay.count(1, C2B), 2);
	EXPECT_EQ(relay.count(1, B2C), 4);
}

// ubus call demo m '{"interface1":5}' over all six hops
TEST_F(Wire, ACallOverAllSixHops)
{
	struct ubus_context *c;
	struct blob_buf b = {};
	uint32_t obj = 0, type = 0, id = 0, c_id;
	int replies = 0;
	char user[128], group[128];

	ASSERT_TRUE(start_server());
	demo_ids(0, &obj, &type);
	ASSERT_NE(c = client(), nullptr);
	c_id = be32_to_cpu(c->local_id);
	ASSERT_EQ(ubus_lookup_id(c, "demo", &id), 0);
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "interface1", 5);
	auto data_cb = [](struct ubus_request *req, int, struct blob_attr *) { ++*(int *) req->priv; };
	EXPECT_EQ(ubus_invoke(c, obj, "m", b.head, data_cb, &replies, 2000), 0);
	EXPECT_EQ(replies, 1);
	blob_buf_free(&b);

	// USER and GROUP as string attributes, NUL and padding included
	auto str_attr = [](char *out, int attr, const char *s) {
		size_t len = strlen(s) + 1, pad = (len + 3) & ~3u;
		char *p = out + sprintf(out, "%02x 00 00 %02zx ", attr, len + 4);

		for (size_t i = 0; i < pad; i++)
			p += sprintf(p, "%02x ", i < len - 1 ? (unsigned char) s[i] : 0);
	};
	str_attr(user, UBUS_ATTR_USER, getpwuid(getuid())->pw_name);
	str_attr(group, UBUS_ATTR_GROUP, getgrgid(getgid())->gr_name);
#define M_DATA "07 00 00 1c 85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 31 00 00 00 00 00 00 00 05"
#define M_REPLY "03 00 00 08 %08x 07 00 00 38 " \
	"85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 31 00 00 00 00 00 00 00 05 " \
	"87 00 00 19 00 10 69 6e 74 65 72 66 61 63 65 32 5f 67 69 76 65 6e 00 00 00 00 00 00"
	EXPECT_EQ(relay.frame(1, C2B, 1), want("00 05 00 02 %08x 00 00 00 30 03 00 00 08 %08x "
					       "04 00 00 06 6d 00 00 00 " M_DATA, obj, obj));
	EXPECT_EQ(relay.frame(0, B2C, 7), want("00 05 00 02 %08x 00 00 00 %02zx 03 00 00 08 %08x "
					       "04 00 00 06 6d 00 00 00 %s%s" M_DATA, c_id,
					       (size_t) 4 + 8 + 8 + 28 + (strlen(user) + strlen(group)) / 3,
					       obj, user, group));
	EXPECT_EQ(relay.frame(0, C2B, 3), want("00 02 00 02 %08x 00 00 00 44 " M_REPLY, c_id, obj));
	EXPECT_EQ(relay.frame(0, C2B, 4), want("00 01 00 02 %08x 00 00 00 14 01 00 00 08 00 00 00 00 "
					       "03 00 00 08 %08x", c_id, obj));
	EXPECT_EQ(relay.frame(1, B2C, 3), want("00 02 00 02 %08x 00 00 00 44 " M_REPLY, obj, obj));
	EXPECT_EQ(relay.frame(1, B2C, 4), want("00 01 00 02 %08x 00 00 00 14 01 00 00 08 00 00 00 00 "
					       "03 00 00 08 %08x", obj, obj));
	EXPECT_EQ(relay.count(1, B2C), 5);
}

TEST_F(Wire, AnUnknownMethodIsAnsweredByTheOwner)
{
	struct ubus_context *c;
	uint32_t obj = 0, type = 0, id = 0;

	ASSERT_TRUE(start_server());
	demo_ids(0, &obj, &type);
	ASSERT_NE(c = client(), nullptr);
	ASSERT_EQ(ubus_lookup_id(c, "demo", &id), 0);
	EXPECT_EQ(ubus_invoke(c, obj, "nope", NULL, NULL, NULL, 2000), UBUS_STATUS_METHOD_NOT_FOUND);
	EXPECT_EQ(relay.frame(1, C2B, 1), want("00 05 00 02 %08x 00 00 00 1c 03 00 00 08 %08x "
					       "04 00 00 09 6e 6f 70 65 00 00 00 00 07 00 00 04", obj, obj));
	EXPECT_EQ(relay.frame(0, C2B, 3), want("00 01 00 02 %08x 00 00 00 14 01 00 00 08 00 00 00 03 "
					       "03 00 00 08 %08x", be32_to_cpu(c->local_id), obj));
	EXPECT_EQ(relay.frame(1, B2C, 3), want("00 01 00 02 %08x 00 00 00 14 01 00 00 08 00 00 00 03 "
					       "03 00 00 08 %08x", obj, obj));
}

TEST_F(Wire, AnUnknownObjectIsAnsweredByTheBrokerEchoingSeqAndPeer)
{
	struct ubus_context *c;

	ASSERT_NE(c = client(), nullptr);
	EXPECT_EQ(ubus_invoke(c, 0x12345678, "x", NULL, NULL, NULL, 2000), UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(relay.frame(0, C2B, 0), want("00 05 00 01 12 34 56 78 00 00 00 18 03 00 00 08 12 34 56 78 "
					       "04 00 00 06 78 00 00 00 07 00 00 04"));
	EXPECT_EQ(relay.frame(0, B2C, 1), want(STATUS("00 01", "12 34 56 78", "04")));
}

TEST_F(Wire, RemovingTheLastObjectOfATypeGivesTheTypeBack)
{
	struct ubus_context *a;
	uint32_t obj, type;

	ASSERT_NE(a = client(), nullptr);
	ASSERT_EQ(ubus_add_object(a, &gone_obj), 0);
	obj = gone_obj.id;
	type = gone_type.id;
	EXPECT_NE(type, 0u);
	EXPECT_EQ(ubus_remove_object(a, &gone_obj), 0);
	EXPECT_EQ(gone_obj.id, 0u);
	EXPECT_EQ(gone_type.id, 0u);
	EXPECT_EQ(relay.frame(0, C2B, 1), want("00 07 00 02 00 00 00 00 00 00 00 0c 03 00 00 08 %08x", obj));
	EXPECT_EQ(relay.frame(0, B2C, 3), want("00 02 00 02 00 00 00 00 00 00 00 14 "
					       "03 00 00 08 %08x 05 00 00 08 %08x", obj, type));
	EXPECT_EQ(relay.frame(0, B2C, 4), want(STATUS("00 02", "00 00 00 00", "00")));
	EXPECT_EQ(relay.count(0, C2B), 2);
}

} // namespace
