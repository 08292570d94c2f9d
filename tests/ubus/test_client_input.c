/*
 * test_client_input.c - the library against a fake broker that sends bad
 * HELLOs, stray and malformed replies and malformed calls
 */
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libubus.h>
#include "testlib.h"

static char dir[128];
static char path[108];

/* Reads one message of the client; its length, or 0. */
static size_t recv_msg(int fd, uint8_t *buf, size_t max)
{
	size_t have = 0, want = 12;

	while (have < want) {
		struct pollfd p = { fd, POLLIN, 0 };
		ssize_t n;

		if (poll(&p, 1, 3000) <= 0)
			return 0;
		n = read(fd, buf + have, want - have);
		if (n <= 0)
			return 0;
		have += n;
		if (have == 12)
			want = 8 + (((size_t) buf[9] << 16) | (buf[10] << 8) | buf[11]);
		if (want > max)
			return 0;
	}
	return have;
}

#define EXPECT(fd, ...) expect(__LINE__, fd, __VA_ARGS__)

static void expect(int line, int fd, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

static void expect(int line, int fd, const char *fmt, ...)
{
	char hex[4096];
	uint8_t want[1024], got[1024];
	size_t n = recv_msg(fd, got, sizeof(got)), wlen;
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(hex, sizeof(hex), fmt, ap);
	va_end(ap);
	wlen = unhex(hex, want, sizeof(want));
	check_mem(__FILE__, line, "client sent", n ? got : NULL, n, want, wlen);
}

/* Runs fake(fd) in a child on the next connection; returns the child. */
static pid_t fake_broker(void (*fake)(int fd))
{
	struct sockaddr_un sun = { .sun_family = AF_UNIX };
	int lfd = socket(AF_UNIX, SOCK_STREAM, 0);
	pid_t pid;

	unlink(path);
	snprintf(sun.sun_path, sizeof(sun.sun_path), "%s", path);
	if (lfd < 0 || bind(lfd, (struct sockaddr *) &sun, sizeof(sun)) || listen(lfd, 1))
		return -1;
	pid = fork();
	if (pid == 0) {
		int fd = accept(lfd, NULL, NULL);

		test_failures = 0;
		if (fd >= 0)
			fake(fd);
		/* let the client see everything before the hang-up */
		usleep(100000);
		_exit(test_failures > 100 ? 100 : test_failures);
	}
	close(lfd);
	return pid;
}

static void fake_done(pid_t pid)
{
	int code = -1;

	CHECK(wait_exit(pid, 5000, &code));
	if (code)
		fprintf(stderr, "fake broker reported %d failure(s)\n", code);
	test_failures += code != 0;
}

static void hello_short(int fd) { send_hex(fd, "00 00 00 00 12 34"); }
static void hello_version(int fd) { send_hex(fd, "01 00 00 00 12 34 56 78 00 00 00 04"); }
static void hello_type(int fd) { send_hex(fd, "00 01 00 00 12 34 56 78 00 00 00 04"); }
static void hello_id0(int fd) { send_hex(fd, "00 00 00 00 00 00 00 00 00 00 00 04"); }
static void hello_oversize(int fd) { send_hex(fd, "00 00 00 00 12 34 56 78 00 10 00 05"); }

/* id bytes that read as 1 in host order: the channel id, refused */
static void hello_id1(int fd)
{
	uint8_t m[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4 };
	uint32_t one = 1;

	memcpy(m + 4, &one, 4);
	if (write(fd, m, sizeof(m)) != sizeof(m))
		fprintf(stderr, "fake: short write\n");
}

static void test_bad_hello(void)
{
	static void (*const fakes[])(int) = {
		hello_short, hello_version, hello_type, hello_id0, hello_id1, hello_oversize,
	};

	for (size_t i = 0; i < ARRAY_SIZE(fakes); i++) {
		pid_t pid = fake_broker(fakes[i]);
		struct ubus_context *ctx = ubus_connect(path);

		if (ctx)
			fprintf(stderr, "bad HELLO %zu accepted\n", i);
		CHECK(ctx == NULL);
		ubus_free(ctx);
		fake_done(pid);
	}
}

#define OBJ	"00 00 50 00"
#define PEER	"00 ab cd ef"
#define INT_A7	"85 00 00 0c 00 01 61 00 00 00 00 07"

static void fake_session(int fd)
{
	uint8_t m[1024];

	send_hex(fd, "00 00 00 00 11 22 33 44 00 00 00 04");

	/* ADD_OBJECT "h": id 0x5000, type 0x6000 */
	CHECK(recv_msg(fd, m, sizeof(m)) > 12 && m[1] == UBUS_MSG_ADD_OBJECT);
	send_hex(fd, "00 02 00 01 00 00 00 00 00 00 00 14 03 00 00 08 " OBJ " 05 00 00 08 00 00 60 00");
	send_hex(fd, "00 01 00 01 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");

	/* call 1: rubbish around one good DATA, then a STATUS without a status */
	CHECK(recv_msg(fd, m, sizeof(m)) > 12 && m[1] == UBUS_MSG_INVOKE && m[3] == 2);
	/* wrong peer */
	send_hex(fd, "00 02 00 02 00 ab cd ee 00 00 00 1c 03 00 00 08 " OBJ " 07 00 00 10 " INT_A7);
	/* an attribute overrunning the message */
	send_hex(fd, "00 02 00 02 " PEER " 00 00 00 14 07 00 00 30 " INT_A7);
	/* call data that is not blobmsg: a string without NUL, a short int32 */
	send_hex(fd, "00 02 00 02 " PEER " 00 00 00 1c 03 00 00 08 " OBJ
		 " 07 00 00 10 83 00 00 0c 00 01 61 00 62 63 64 65");
	send_hex(fd, "00 02 00 02 " PEER " 00 00 00 1c 03 00 00 08 " OBJ
		 " 07 00 00 10 85 00 00 0a 00 01 61 00 00 07 00 00");
	/* the good one */
	send_hex(fd, "00 02 00 02 " PEER " 00 00 00 1c 03 00 00 08 " OBJ " 07 00 00 10 " INT_A7);
	send_hex(fd, "00 01 00 02 " PEER " 00 00 00 0c 03 00 00 08 " OBJ);

	/* call 2: calls for our client's object meanwhile; a version-1 DATA; STATUS 77 */
	CHECK(recv_msg(fd, m, sizeof(m)) > 12 && m[1] == UBUS_MSG_INVOKE && m[3] == 3);
	/* data that is not blobmsg */
	send_hex(fd, "00 05 00 0a 00 00 00 99 00 00 00 24 03 00 00 08 " OBJ " 04 00 00 06 68 00 00 00 "
		 "07 00 00 10 83 00 00 0c 00 01 61 00 62 63 64 65");
	/* no data at all */
	send_hex(fd, "00 05 00 0b 00 00 00 99 00 00 00 14 03 00 00 08 " OBJ " 04 00 00 06 68 00 00 00");
	/* a good one */
	send_hex(fd, "00 05 00 0c 00 00 00 99 00 00 00 24 03 00 00 08 " OBJ " 04 00 00 06 68 00 00 00 "
		 "07 00 00 10 " INT_A7);
	/* overrunning: dropped */
	send_hex(fd, "00 05 00 0d 00 00 00 99 00 00 00 14 03 00 00 08 " OBJ " 04 00 00 60 68 00 00 00");
	/* an object this client does not have */
	send_hex(fd, "00 05 00 0e 00 00 00 99 00 00 00 18 03 00 00 08 00 00 77 77 04 00 00 06 68 00 00 00 "
		 "07 00 00 04");
	send_hex(fd, "01 02 00 03 " PEER " 00 00 00 1c 03 00 00 08 " OBJ " 07 00 00 10 " INT_A7);
	send_hex(fd, "00 01 00 03 " PEER " 00 00 00 14 01 00 00 08 00 00 00 4d 03 00 00 08 " OBJ);

	/* the client's answers, once its own call is over */
	EXPECT(fd, "00 01 00 0a 00 00 00 99 00 00 00 14 01 00 00 08 00 00 00 02 03 00 00 08 " OBJ);
	EXPECT(fd, "00 01 00 0b 00 00 00 99 00 00 00 14 01 00 00 08 00 00 00 02 03 00 00 08 " OBJ);
	EXPECT(fd, "00 02 00 0c 00 00 00 99 00 00 00 1c 03 00 00 08 " OBJ " 07 00 00 10 " INT_A7);
	EXPECT(fd, "00 01 00 0c 00 00 00 99 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 " OBJ);
	EXPECT(fd, "00 01 00 0e 00 00 00 99 00 00 00 14 01 00 00 08 00 00 00 04 03 00 00 08 00 00 77 77");

	/* lookup: one DATA lacks the type, one has a broken signature, one is right */
	EXPECT(fd, "00 04 00 04 00 00 00 00 00 00 00 04");
	send_hex(fd, "00 02 00 04 00 00 00 00 00 00 00 14 02 00 00 06 61 00 00 00 03 00 00 08 00 00 00 0a");
	send_hex(fd, "00 02 00 04 00 00 00 00 00 00 00 28 02 00 00 06 62 00 00 00 03 00 00 08 00 00 00 0b "
		 "05 00 00 08 00 00 00 0c 06 00 00 0c 82 00 00 40 00 01 6d 00");
	send_hex(fd, "00 02 00 04 00 00 00 00 00 00 00 28 02 00 00 06 63 00 00 00 03 00 00 08 00 00 00 0d "
		 "05 00 00 08 00 00 00 0e 06 00 00 0c 82 00 00 08 00 01 6d 00");
	send_hex(fd, "00 01 00 04 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00");

	/* call 3: a reply announcing more than 1 MiB breaks the connection */
	CHECK(recv_msg(fd, m, sizeof(m)) > 12 && m[1] == UBUS_MSG_INVOKE && m[3] == 5);
	send_hex(fd, "00 02 00 05 " PEER " 00 20 00 00 03 00 00 08 " OBJ);
}

static int handled, replies, listed;
static int32_t reply_value;

static int h_handler(struct ubus_context *ctx, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	handled++;
	ubus_send_reply(ctx, req, msg);
	return 0;
}

static const struct ubus_method h_methods[] = { UBUS_METHOD_NOARG("h", h_handler) };
static struct ubus_object_type h_type = UBUS_OBJECT_TYPE("h", h_methods);
static struct ubus_object h_obj = {
	.name = "h", .type = &h_type, .methods = h_methods, .n_methods = ARRAY_SIZE(h_methods),
};

static void reply_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct blob_attr *cur;
	size_t rem;

	replies++;
	blobmsg_for_each_attr(cur, msg, rem)
		reply_value = (int32_t) blobmsg_get_u32(cur);
}

static void list_cb(struct ubus_context *ctx, struct ubus_object_data *obj, void *priv)
{
	listed++;
	CHECK_STR(obj->path, "c");
	CHECK_INT(obj->id, 0x0d);
	CHECK_INT(obj->type_id, 0x0e);
}

static void test_session(void)
{
	static const uint8_t id_bytes[4] = { 0x11, 0x22, 0x33, 0x44 };
	pid_t pid = fake_broker(fake_session);
	struct ubus_context *ctx = ubus_connect(path);

	CHECK(ctx != NULL);
	if (!ctx) {
		kill_wait(pid);
		return;
	}
	/* the HELLO's id bytes as they came */
	CHECK(!memcmp(&ctx->local_id, id_bytes, 4));
	CHECK_INT(ubus_add_object(ctx, &h_obj), 0);
	CHECK_INT(h_obj.id, 0x5000);
	CHECK_INT(h_type.id, 0x6000);

	CHECK_INT(ubus_invoke(ctx, 0xabcdef, "x", NULL, reply_cb, NULL, 2000), UBUS_STATUS_INVALID_ARGUMENT);
	CHECK_INT(replies, 1);
	CHECK_INT(reply_value, 7);

	replies = 0;
	CHECK_INT(ubus_invoke(ctx, 0xabcdef, "x", NULL, reply_cb, NULL, 2000), 77);
	CHECK_INT(replies, 0);
	/* the calls that came in meanwhile ran once it was over */
	CHECK_INT(handled, 1);

	CHECK_INT(ubus_lookup(ctx, NULL, list_cb, NULL), 0);
	CHECK_INT(listed, 1);

	CHECK_INT(ubus_invoke(ctx, 0xabcdef, "x", NULL, reply_cb, NULL, 2000), UBUS_STATUS_CONNECTION_FAILED);
	CHECK_INT(ubus_invoke(ctx, 0xabcdef, "x", NULL, reply_cb, NULL, 2000), UBUS_STATUS_CONNECTION_FAILED);
	ubus_free(ctx);
	fake_done(pid);
}

int main(void)
{
	signal(SIGPIPE, SIG_IGN);
	snprintf(dir, sizeof(dir), "%s/ubus-fake.XXXXXX", tmp_dir());
	if (!mkdtemp(dir))
		return 1;
	snprintf(path, sizeof(path), "%s/fake.sock", dir);
	test_bad_hello();
	test_session();
	unlink(path);
	rmdir(dir);
	if (test_failures)
		fprintf(stderr, "%d check(s) failed\n", test_failures);
	return test_failures ? 1 : 0;
}
