/*
 * test_broker_input.c - what the broker does with malformed, oversized,
 * unexpected and random input: answer with a status, or drop the sender and
 * its objects, and keep serving everyone else
 */
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libubus.h>
#include "testlib.h"

static struct broker br;

struct raw {
	int fd;
	uint32_t id;
};

static bool raw_open(struct raw *r)
{
	uint8_t hello[12];

	r->fd = raw_connect(br.path);
	if (r->fd < 0 || read(r->fd, hello, sizeof(hello)) != (ssize_t) sizeof(hello))
		return false;
	r->id = ((uint32_t) hello[4] << 24) | (hello[5] << 16) | (hello[6] << 8) | hello[7];
	return true;
}

/* One message: its length, 0 on EOF, -1 if nothing came within 2 s. */
static ssize_t recv_msg(struct raw *r, uint8_t *buf, size_t max)
{
	size_t have = 0, want = 12;

	while (have < want) {
		struct pollfd p = { r->fd, POLLIN, 0 };
		ssize_t n;

		if (poll(&p, 1, 2000) <= 0)
			return -1;
		n = read(r->fd, buf + have, want - have);
		if (n <= 0)
			return 0;
		have += n;
		if (have == 12) {
			want = 8 + (((size_t) buf[9] << 16) | (buf[10] << 8) | buf[11]);
			if (want > max)
				return -1;
		}
	}
	return have;
}

#define EXPECT(r, ...) expect(__LINE__, r, __VA_ARGS__)

static void expect(int line, struct raw *r, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

static void expect(int line, struct raw *r, const char *fmt, ...)
{
	char hex[4096];
	uint8_t want[1024], got[2048];
	ssize_t n = recv_msg(r, got, sizeof(got));
	size_t wlen;
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(hex, sizeof(hex), fmt, ap);
	va_end(ap);
	wlen = unhex(hex, want, sizeof(want));
	check_mem(__FILE__, line, "reply", n > 0 ? got : NULL, n > 0 ? n : 0, want, wlen);
}

/* The broker closed the connection (whatever it sent before is skipped). */
static bool closed(struct raw *r)
{
	uint8_t buf[2048];
	ssize_t n;

	while ((n = recv_msg(r, buf, sizeof(buf))) > 0)
		;
	close(r->fd);
	return n == 0;
}

static int lookup(const char *path)
{
	struct ubus_context *ctx = ubus_connect(br.path);
	uint32_t id;
	int ret;

	if (!ctx)
		return -1;
	ret = ubus_lookup_id(ctx, path, &id);
	ubus_free(ctx);
	return ret;
}

/* A raw client owning an object named path (empty signature: listable). */
static bool raw_with_object(struct raw *r, const char *path)
{
	uint8_t buf[256];
	char hex[128], *p = hex;
	size_t len = strlen(path) + 1, pad = (len + 3) & ~3u;

	if (!raw_open(r))
		return false;
	for (size_t i = 0; i < pad; i++)
		p += sprintf(p, "%02x ", i < len - 1 ? (unsigned char) path[i] : 0);
	send_hex(r->fd, "00 06 00 01 00 00 00 00 00 00 00 %02zx 02 00 00 %02zx %s 06 00 00 04",
		 4 + 4 + pad + 4, len + 4, hex);
	/* DATA {OBJID, OBJTYPE}, STATUS 0 */
	return recv_msg(r, buf, sizeof(buf)) == 28 && recv_msg(r, buf, sizeof(buf)) == 20 &&
	       buf[19] == 0;
}

/* A string attribute in hex: header, text, NUL, zero padding. */
static void hex_str_attr(char *out, int id, const char *s)
{
	size_t len = strlen(s) + 1, pad = (len + 3) & ~3u;

	out += sprintf(out, "%02x 00 00 %02zx ", id, len + 4);
	for (size_t i = 0; i < pad; i++)
		out += sprintf(out, "%02x ", i < len - 1 ? (unsigned char) s[i] : 0);
}

static void test_unknown_types(void)
{
	static const int types[] = { 0, 8, 9, 10, 11, 12, 200 };
	struct raw r;

	CHECK(raw_open(&r));
	for (size_t i = 0; i < ARRAY_SIZE(types); i++) {
		send_hex(r.fd, "00 %02x 00 07 11 22 33 44 00 00 00 04", types[i]);
		EXPECT(&r, "00 01 00 07 11 22 33 44 00 00 00 0c 01 00 00 08 00 00 00 01");
	}
	/* PING: the message comes back as DATA, version and all, then STATUS 0 */
	send_hex(r.fd, "01 03 00 05 00 00 00 09 00 00 00 0c 03 00 00 05 01 00 00 00");
	EXPECT(&r, "01 02 00 05 00 00 00 09 00 00 00 0c 03 00 00 05 01 00 00 00");
	EXPECT(&r, "00 01 00 05 00 00 00 09 00 00 00 0c 01 00 00 08 00 00 00 00");
	/* a message trickling in a byte at a time */
	{
		uint8_t ping[] = { 0, 3, 0, 6, 0, 0, 0, 0, 0, 0, 0, 4 };

		for (size_t i = 0; i < sizeof(ping); i++) {
			CHECK(send(r.fd, ping + i, 1, MSG_NOSIGNAL) == 1);
			usleep(2000);
		}
		EXPECT(&r, "00 02 00 06 00 00 00 00 00 00 00 04");
		EXPECT(&r, "00 01 00 06 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	}
	/* a root length that is not a multiple of 4 is read as announced */
	send_hex(r.fd, "00 03 00 08 00 00 00 00 00 00 00 05 ff 00 03 00 09 00 00 00 00 00 00 00 04");
	EXPECT(&r, "00 02 00 08 00 00 00 00 00 00 00 05 ff");
	EXPECT(&r, "00 01 00 08 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	EXPECT(&r, "00 02 00 09 00 00 00 00 00 00 00 04");
	EXPECT(&r, "00 01 00 09 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	close(r.fd);
}

/* Ill-typed or missing attributes: ignored, the usual error status. */
static void test_bad_attributes(void)
{
	struct raw r, owner;

	CHECK(raw_with_object(&owner, "attrs"));
	CHECK(raw_open(&r));
	/* OBJID of 5 bytes, OBJPATH without NUL: a LOOKUP of everything */
	send_hex(r.fd, "00 04 00 01 00 00 00 00 00 00 00 10 03 00 00 09 00 00 00 01 05 00 00 00");
	CHECK(recv_msg(&r, (uint8_t[256]) { 0 }, 256) > 20);
	EXPECT(&r, "00 01 00 01 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	send_hex(r.fd, "00 04 00 02 00 00 00 00 00 00 00 0c 02 00 00 08 61 74 74 72");
	CHECK(recv_msg(&r, (uint8_t[256]) { 0 }, 256) > 20);
	EXPECT(&r, "00 01 00 02 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	/* an empty path is refused */
	send_hex(r.fd, "00 04 00 03 00 00 00 00 00 00 00 0c 02 00 00 05 00 00 00 00");
	EXPECT(&r, "00 01 00 03 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 02");
	/* INVOKE without METHOD, REMOVE_OBJECT without OBJID: 2 */
	send_hex(r.fd, "00 05 00 04 00 00 00 00 00 00 00 0c 03 00 00 08 12 34 56 78");
	EXPECT(&r, "00 01 00 04 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 02");
	send_hex(r.fd, "00 07 00 05 00 00 00 00 00 00 00 04");
	EXPECT(&r, "00 01 00 05 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 02");
	/* event, ACL and monitor objects are not served */
	send_hex(r.fd, "00 05 00 06 00 00 00 01 00 00 00 14 03 00 00 08 00 00 00 01 04 00 00 06 78 00 00 00");
	EXPECT(&r, "00 01 00 06 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 01");
	send_hex(r.fd, "00 05 00 07 00 00 00 03 00 00 00 14 03 00 00 08 00 00 00 03 04 00 00 06 78 00 00 00");
	EXPECT(&r, "00 01 00 07 00 00 00 03 00 00 00 0c 01 00 00 08 00 00 00 03");
	/* stray replies are dropped: the PING's answer is the next thing to arrive */
	send_hex(r.fd, "00 02 00 08 00 00 00 00 00 00 00 04");
	send_hex(r.fd, "00 01 00 08 %08x 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 12 34 56 78", owner.id);
	send_hex(r.fd, "00 03 00 09 00 00 00 00 00 00 00 04");
	EXPECT(&r, "00 02 00 09 00 00 00 00 00 00 00 04");
	EXPECT(&r, "00 01 00 09 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	/* removing someone else's object: 6, and it stays */
	{
		uint32_t id = 0;
		struct ubus_context *ctx = ubus_connect(br.path);

		CHECK(ctx && ubus_lookup_id(ctx, "attrs", &id) == 0);
		send_hex(r.fd, "00 07 00 0a 00 00 00 00 00 00 00 0c 03 00 00 08 %08x", id);
		EXPECT(&r, "00 01 00 0a 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 06");
		CHECK_INT(lookup("attrs"), 0);
		ubus_free(ctx);
	}
	/* a call reaches the owner with fresh headers and zero padding, whatever came */
	{
		uint32_t id = 0;
		char user[200], group[200];
		struct ubus_context *ctx = ubus_connect(br.path);

		CHECK(ctx && ubus_lookup_id(ctx, "attrs", &id) == 0);
		ubus_free(ctx);
		send_hex(r.fd, "00 05 00 0c 00 00 00 00 00 00 00 28 03 00 00 08 %08x 84 00 00 06 6d 00 ff ff "
			 "07 00 00 11 87 00 00 0d 00 02 61 62 00 00 00 00 06 ee ee ee", id);
		hex_str_attr(user, UBUS_ATTR_USER, getpwuid(getuid())->pw_name);
		hex_str_attr(group, UBUS_ATTR_GROUP, getgrgid(getgid())->gr_name);
		EXPECT(&owner, "00 05 00 0c %08x 00 00 00 %02zx 03 00 00 08 %08x 04 00 00 06 6d 00 00 00 "
		       "%s%s07 00 00 11 87 00 00 0d 00 02 61 62 00 00 00 00 06 00 00 00", r.id,
		       (size_t) 4 + 8 + 8 + 20 + (strlen(user) + strlen(group)) / 3, id, user, group);
	}
	/* a signature that is not a run of named entries: an object without a type */
	send_hex(r.fd, "00 06 00 0b 00 00 00 00 00 00 00 18 02 00 00 08 74 74 74 00 06 00 00 0c 03 00 00 08 00 00 00 00");
	CHECK_INT(recv_msg(&r, (uint8_t[64]) { 0 }, 64), 20);
	EXPECT(&r, "00 01 00 0b 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
	CHECK_INT(lookup("ttt"), 0);
	/* listed-but-typeless: the tool calls id 0, which does not exist */
	{
		const char *argv[] = { UBUS_BIN, "-s", br.path, "call", "ttt", "x", NULL };
		struct result res;

		run(&res, 5000, argv);
		CHECK_STR(res.err, "Command failed: ubus call ttt x (Not found)\n");
		CHECK_INT(res.code, 252);
		result_free(&res);
	}
	close(r.fd);
	close(owner.fd);
}

/* Malformed messages cost the sender its connection and its objects. */
static void test_malformed(void)
{
	static const char *const bad[] = {
		/* root shorter than its own header */
		"00 03 00 01 00 00 00 00 00 00 00 02",
		/* more than 1 MiB announced */
		"00 03 00 01 00 00 00 00 00 10 00 01",
		/* an attribute claiming more than the root holds */
		"00 04 00 01 00 00 00 00 00 00 00 0c 02 00 00 40 61 62 63 00",
		/* an attribute shorter than its header */
		"00 04 00 01 00 00 00 00 00 00 00 0c 02 00 00 02 61 62 63 00",
		/* call data: a string without its NUL */
		"00 05 00 01 12 34 56 78 00 00 00 24 03 00 00 08 12 34 56 78 04 00 00 06 78 00 00 00 "
		"07 00 00 10 83 00 00 0c 00 01 61 00 62 63 64 65",
		/* call data: a table whose entry overruns it */
		"00 05 00 01 12 34 56 78 00 00 00 28 03 00 00 08 12 34 56 78 04 00 00 06 78 00 00 00 "
		"07 00 00 14 82 00 00 10 00 01 74 00 85 00 00 40 00 00 00 00",
		/* call data: an int32 of two bytes */
		"00 02 00 01 12 34 56 78 00 00 00 1c 03 00 00 08 12 34 56 78 "
		"07 00 00 10 85 00 00 0a 00 01 69 00 00 05 00 00",
		/* call data: a name running past the attribute */
		"00 05 00 01 12 34 56 78 00 00 00 20 03 00 00 08 12 34 56 78 04 00 00 06 78 00 00 00 "
		"07 00 00 0c 83 00 00 08 00 09 61 00",
	};

	for (size_t i = 0; i < ARRAY_SIZE(bad); i++) {
		struct raw r;
		char name[32];

		snprintf(name, sizeof(name), "victim%zu", i);
		CHECK(raw_with_object(&r, name));
		CHECK_INT(lookup(name), 0);
		send_hex(r.fd, "%s", bad[i]);
		if (!closed(&r))
			fprintf(stderr, "message %zu did not close the connection\n", i), test_failures++;
		CHECK_INT(lookup(name), UBUS_STATUS_NOT_FOUND);
	}
	/* exactly 1 MiB is still fine */
	{
		size_t len = UBUS_MAX_MSGLEN + 8;
		uint8_t *big = calloc(1, len), *back = malloc(len);
		struct raw r;
		size_t got = 0;

		CHECK(raw_open(&r));
		/* one attribute the broker does not look at fills the root */
		memcpy(big, "\x00\x03\x00\x01\x00\x00\x00\x00\x00\x10\x00\x00"
		       "\x00\x0f\xff\xfc", 16);
		CHECK(send(r.fd, big, len, MSG_NOSIGNAL) == (ssize_t) len);
		while (got < len) {
			struct pollfd p = { r.fd, POLLIN, 0 };
			ssize_t n;

			if (poll(&p, 1, 2000) <= 0 || (n = read(r.fd, back + got, len - got)) <= 0)
				break;
			got += n;
		}
		CHECK_INT(got, len);
		CHECK(back[1] == UBUS_MSG_DATA && !memcmp(back + 2, big + 2, len - 2));
		EXPECT(&r, "00 01 00 01 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");
		close(r.fd);
		free(big);
		free(back);
	}
}

static uint32_t rnd(uint32_t *s)
{
	*s ^= *s << 13;
	*s ^= *s >> 17;
	*s ^= *s << 5;
	return *s;
}

/* Sends rubbish until killed: random bytes, random attributes, calls with random data. */
static void spew(uint32_t seed, uint32_t target)
{
	signal(SIGPIPE, SIG_IGN);
	for (;;) {
		int fd = raw_connect(br.path);

		for (int i = 0; fd >= 0 && i < 200; i++) {
			uint8_t m[512];
			size_t len = 12 + (rnd(&seed) % 64) * 4;
			uint32_t kind = rnd(&seed) % 4;

			for (size_t j = 0; j < len; j++)
				m[j] = rnd(&seed);
			if (kind > 0) {
				/* a well-framed message, random inside */
				size_t root = len - 8;

				m[0] = 0;
				m[1] = rnd(&seed) % 12;
				m[8] = 0;
				m[9] = root >> 16;
				m[10] = root >> 8;
				m[11] = root;
				for (size_t off = 12; kind > 1 && off + 8 <= len;) {
					size_t alen = 4 + (rnd(&seed) % 8) * 4;

					if (off + alen > len)
						alen = len - off;
					m[off] = rnd(&seed) % 14;
					m[off + 1] = 0;
					m[off + 2] = 0;
					m[off + 3] = alen;
					if (m[off] == UBUS_ATTR_OBJID && alen >= 8) {
						m[off + 3] = 8;
						alen = 8;
						memcpy(m + off + 4, &target, 4);
					}
					off += alen;
				}
			}
			if (send(fd, m, len, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN)
				break;
			/* read what comes back so the broker never has to hold it */
			while (recv(fd, m, sizeof(m), MSG_DONTWAIT) > 0)
				;
		}
		if (fd >= 0)
			close(fd);
	}
}

static int calls_ok;

static void m_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	static const struct blobmsg_policy p = { "interface1", BLOBMSG_TYPE_INT32 };
	struct blob_attr *tb;

	blobmsg_parse(&p, 1, &tb, blob_data(msg), blob_len(msg));
	if (tb && blobmsg_get_u32(tb) == 42)
		calls_ok++;
}

static void test_garbage_clients(void)
{
	const char *server[] = { SERVER_BIN, br.path, NULL };
	struct ubus_context *ctx;
	struct blob_buf b = { 0 };
	pid_t srv, spewers[3];
	uint32_t id = 0;
	int out, calls = 0, answered = 0;
	double end;

	srv = spawn_ready(server, &out);
	CHECK(srv > 0);
	ctx = ubus_connect(br.path);
	CHECK(ctx && ubus_lookup_id(ctx, "demo", &id) == 0);
	if (!ctx || srv <= 0)
		return;
	for (size_t i = 0; i < ARRAY_SIZE(spewers); i++) {
		spewers[i] = fork();
		if (spewers[i] == 0)
			spew(0x9e3779b9u * (i + 1), cpu_to_be32(id));
	}
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "interface1", 42);
	/*
	 * A flood the server cannot keep up with fills the broker's queue to it,
	 * whose overflow is dropped as on the router: a call may then go
	 * unanswered, but none gets anything but its own answer.
	 */
	end = now_secs() + 2;
	while (calls < 5 || now_secs() < end) {
		int ret = ubus_invoke(ctx, id, "m", b.head, m_cb, NULL, 3000);

		if (ret != UBUS_STATUS_TIMEOUT)
			CHECK_INT(ret, 0);
		answered += !ret;
		calls++;
	}
	for (size_t i = 0; i < ARRAY_SIZE(spewers); i++)
		kill_wait(spewers[i]);
	CHECK(answered > 0);
	CHECK_INT(calls_ok, answered);
	/* once it is over, every call is answered again */
	CHECK_INT(ubus_invoke(ctx, id, "m", b.head, m_cb, NULL, 10000), 0);
	CHECK_INT(calls_ok, answered + 1);

	/* still serving, and whatever the rubbish registered went with it */
	{
		const char *argv[] = { UBUS_BIN, "-s", br.path, "list", NULL };
		struct result r = { 0 };

		for (int i = 0; i < 100; i++) {
			result_free(&r);
			run(&r, 5000, argv);
			if (!strcmp(r.out, "demo\ndemo.two\nfmt\n"))
				break;
			usleep(20000);
		}
		CHECK_STR(r.out, "demo\ndemo.two\nfmt\n");
		CHECK_INT(r.code, 0);
		result_free(&r);
	}
	CHECK(!wait_exit(br.pid, 0, NULL));
	ubus_free(ctx);
	blob_buf_free(&b);
	kill_wait(srv);
	close(out);
}

int main(void)
{
	signal(SIGPIPE, SIG_IGN);
	if (!broker_start(&br)) {
		fprintf(stderr, "cannot start ubusd\n");
		return 1;
	}
	test_unknown_types();
	test_bad_attributes();
	test_malformed();
	/* the raw owners of "attrs" and "ttt" are gone: nothing of theirs is left */
	CHECK_INT(lookup("attrs"), UBUS_STATUS_NOT_FOUND);
	test_garbage_clients();
	CHECK(!wait_exit(br.pid, 0, NULL));
	broker_stop(&br);
	if (test_failures)
		fprintf(stderr, "%d check(s) failed\n", test_failures);
	return test_failures ? 1 : 0;
}
