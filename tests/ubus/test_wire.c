/*
 * test_wire.c - the bytes on the socket, recorded by a relay between the
 * clients and our broker, against the reference captures of the router's bus
 */
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <libubus.h>
#include "testlib.h"

#define MAX_FRAMES	256
#define MAX_CONNS	8

enum { C2B, B2C };

struct frame {
	int conn;
	int dir;
	size_t len;
	uint8_t *data;
};

struct stream {
	uint8_t buf[65536];
	size_t len;
};

struct conn {
	int cfd, bfd;
	struct stream s[2];
};

static struct broker br;
static char relay_path[108];
static int relay_fd;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct frame frames[MAX_FRAMES];
static int nframes;
static struct conn conns[MAX_CONNS];
static int nconns;

/* Cuts a direction's byte stream into messages as they complete. */
static void record(int ci, int dir, const uint8_t *p, size_t n)
{
	struct stream *s = &conns[ci].s[dir];

	if (s->len + n > sizeof(s->buf))
		return;
	memcpy(s->buf + s->len, p, n);
	s->len += n;
	for (;;) {
		size_t total;

		if (s->len < 12)
			return;
		total = 8 + (((size_t) s->buf[9] << 16) | ((size_t) s->buf[10] << 8) | s->buf[11]);
		if (s->len < total)
			return;
		pthread_mutex_lock(&lock);
		if (nframes < MAX_FRAMES) {
			frames[nframes].conn = ci;
			frames[nframes].dir = dir;
			frames[nframes].len = total;
			frames[nframes].data = malloc(total);
			memcpy(frames[nframes].data, s->buf, total);
			nframes++;
		}
		pthread_mutex_unlock(&lock);
		memmove(s->buf, s->buf + total, s->len - total);
		s->len -= total;
	}
}

static void *relay_thread(void *arg)
{
	for (;;) {
		struct pollfd p[1 + 2 * MAX_CONNS];
		int n = 1;

		p[0] = (struct pollfd) { relay_fd, POLLIN, 0 };
		for (int i = 0; i < nconns; i++) {
			p[n++] = (struct pollfd) { conns[i].cfd, POLLIN, 0 };
			p[n++] = (struct pollfd) { conns[i].bfd, POLLIN, 0 };
		}
		if (poll(p, n, -1) < 0)
			continue;
		if (p[0].revents & POLLIN) {
			int cfd = accept(relay_fd, NULL, NULL);

			if (cfd >= 0 && nconns < MAX_CONNS) {
				conns[nconns].cfd = cfd;
				conns[nconns].bfd = raw_connect(br.path);
				nconns++;
			}
			continue;
		}
		for (int i = 0; i < nconns; i++) {
			for (int dir = 0; dir < 2; dir++) {
				struct pollfd *pf = &p[1 + 2 * i + dir];
				int from = pf->fd, to = dir == C2B ? conns[i].bfd : conns[i].cfd;
				uint8_t buf[8192];
				ssize_t r;

				if (from < 0 || !pf->revents)
					continue;
				r = read(from, buf, sizeof(buf));
				if (r <= 0) {
					close(conns[i].cfd);
					close(conns[i].bfd);
					conns[i].cfd = conns[i].bfd = -1;
					break;
				}
				record(i, dir, buf, r);
				if (write(to, buf, r) != r)
					fprintf(stderr, "relay: short write\n");
			}
		}
	}
	return NULL;
}

static bool relay_start(void)
{
	struct sockaddr_un sun = { .sun_family = AF_UNIX };
	pthread_t t;

	snprintf(relay_path, sizeof(relay_path), "%s/relay.sock", br.dir);
	snprintf(sun.sun_path, sizeof(sun.sun_path), "%s", relay_path);
	relay_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (relay_fd < 0 || bind(relay_fd, (struct sockaddr *) &sun, sizeof(sun)) ||
	    listen(relay_fd, 8))
		return false;
	return pthread_create(&t, NULL, relay_thread, NULL) == 0 && pthread_detach(t) == 0;
}

/* The idx-th message of a connection in one direction, waiting up to 2 s. */
static const struct frame *frame_at(int conn, int dir, int idx)
{
	double end = now_secs() + 2;

	do {
		int seen = 0;

		pthread_mutex_lock(&lock);
		for (int i = 0; i < nframes; i++) {
			if (frames[i].conn != conn || frames[i].dir != dir)
				continue;
			if (seen++ == idx) {
				pthread_mutex_unlock(&lock);
				return &frames[i];
			}
		}
		pthread_mutex_unlock(&lock);
		usleep(2000);
	} while (now_secs() < end);
	return NULL;
}

static int frames_of(int conn, int dir)
{
	int n = 0;

	pthread_mutex_lock(&lock);
	for (int i = 0; i < nframes; i++)
		n += frames[i].conn == conn && frames[i].dir == dir;
	pthread_mutex_unlock(&lock);
	return n;
}

#define CHECK_FRAME(conn, dir, idx, ...) check_frame(__LINE__, conn, dir, idx, __VA_ARGS__)

static void check_frame(int line, int conn, int dir, int idx, const char *fmt, ...)
	__attribute__((format(printf, 5, 6)));

static void check_frame(int line, int conn, int dir, int idx, const char *fmt, ...)
{
	const struct frame *f = frame_at(conn, dir, idx);
	char hex[2048];
	uint8_t want[1024];
	size_t wlen;
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(hex, sizeof(hex), fmt, ap);
	va_end(ap);
	wlen = unhex(hex, want, sizeof(want));
	if (!f) {
		fprintf(stderr, "%s:%d: no message %d on connection %d (%s)\n",
			__FILE__, line, idx, conn, dir == C2B ? "C->B" : "B->C");
		test_failures++;
		return;
	}
	check_mem(__FILE__, line, "message", f->data, f->len, want, wlen);
}

/* A string attribute as hex, NUL and padding included. */
static const char *str_attr(char *out, int id, const char *s)
{
	size_t len = strlen(s) + 1, pad = (len + 3) & ~3u;
	char *p = out;

	p += sprintf(p, "%02x 00 00 %02zx ", id, len + 4);
	for (size_t i = 0; i < pad; i++)
		p += sprintf(p, "%02x ", i < len - 1 ? (unsigned char) s[i] : 0);
	return out;
}

#define SIG_DEMO \
	"06 00 00 4c " \
	"82 00 00 10 00 06 73 74 61 74 75 73 00 00 00 00 " \
	"82 00 00 38 00 01 6d 00 " \
	"85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 31 00 00 00 00 00 00 00 05 " \
	"85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 32 00 00 00 00 00 00 00 05 "
#define STATUS_OK(seq, peer) "00 01 " seq " " peer " 00 00 00 0c 01 00 00 08 00 00 00 00"

static void list_cb(struct ubus_context *ctx, struct ubus_object_data *obj, void *priv)
{
	(*(int *) priv)++;
}

static void data_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	(*(int *) req->priv)++;
}

static int gone_cb(struct ubus_context *ctx, struct ubus_object *obj,
		   struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	return 0;
}

static const struct ubus_method gone_methods[] = { UBUS_METHOD_NOARG("x", gone_cb) };
static struct ubus_object_type gone_type = UBUS_OBJECT_TYPE("gone", gone_methods);
static struct ubus_object gone_obj = {
	.name = "gone", .type = &gone_type,
	.methods = gone_methods, .n_methods = ARRAY_SIZE(gone_methods),
};
static struct ubus_object dup_obj = {
	.name = "demo", .type = &gone_type,
	.methods = gone_methods, .n_methods = ARRAY_SIZE(gone_methods),
};

int main(void)
{
	const char *server[] = { SERVER_BIN, relay_path, NULL };
	struct ubus_context *a, *c;
	uint32_t a_id, c_id, obj_id = 0, type_id, gone_id, gone_type_id, id;
	char user[128], group[128];
	const struct frame *f;
	int count = 0, out;
	pid_t pid;

	signal(SIGPIPE, SIG_IGN);
	if (!broker_start(&br) || !relay_start()) {
		fprintf(stderr, "cannot start ubusd and the relay\n");
		return 1;
	}

	/* (a) connect: HELLO; LOOKUP on the empty bus */
	a = ubus_connect(relay_path);
	CHECK(a != NULL);
	if (!a)
		return 1;
	/* the id as it came, without byte swapping */
	a_id = be32_to_cpu(a->local_id);
	CHECK_FRAME(0, B2C, 0, "00 00 00 00 %08x 00 00 00 04", a_id);
	CHECK_INT(ubus_lookup(a, NULL, list_cb, &count), 0);
	CHECK_INT(count, 0);
	CHECK_FRAME(0, C2B, 0, "00 04 00 01 00 00 00 00 00 00 00 04");
	CHECK_FRAME(0, B2C, 1, STATUS_OK("00 01", "00 00 00 00"));

	/* (b) the server publishes demo (status, m with two INT32), demo.two, fmt */
	pid = spawn_ready(server, &out);
	CHECK(pid > 0);
	CHECK_FRAME(1, C2B, 0, "00 06 00 01 00 00 00 00 00 00 00 5c "
		    "02 00 00 09 64 65 6d 6f 00 00 00 00 " SIG_DEMO);
	f = frame_at(1, B2C, 1);
	CHECK(f && f->len == 28);
	if (!f || f->len != 28)
		return 1;
	obj_id = be32_to_cpu(*(uint32_t *) (f->data + 16));
	type_id = be32_to_cpu(*(uint32_t *) (f->data + 24));
	CHECK_FRAME(1, B2C, 1, "00 02 00 01 00 00 00 00 00 00 00 14 03 00 00 08 %08x 05 00 00 08 %08x",
		    obj_id, type_id);
	CHECK_FRAME(1, B2C, 2, STATUS_OK("00 01", "00 00 00 00"));
	/* the same type again goes by its id */
	CHECK_FRAME(1, C2B, 1, "00 06 00 02 00 00 00 00 00 00 00 1c "
		    "02 00 00 0d 64 65 6d 6f 2e 74 77 6f 00 00 00 00 05 00 00 08 %08x", type_id);
	f = frame_at(1, B2C, 3);
	CHECK(f && f->len == 20);
	if (f && f->len == 20)
		CHECK_FRAME(1, B2C, 3, "00 02 00 02 00 00 00 00 00 00 00 0c 03 00 00 08 %08x",
			    be32_to_cpu(*(uint32_t *) (f->data + 16)));
	CHECK_FRAME(1, B2C, 4, STATUS_OK("00 02", "00 00 00 00"));

	/* a second object under a name in use is refused with 2 */
	CHECK_INT(ubus_add_object(a, &dup_obj), UBUS_STATUS_INVALID_ARGUMENT);
	CHECK_INT(dup_obj.id, 0);
	CHECK_FRAME(0, B2C, 2, "00 01 00 02 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 02");

	/* (c) lookup of one path, and of a missing one */
	c = ubus_connect(relay_path);
	CHECK(c != NULL);
	if (!c)
		return 1;
	c_id = be32_to_cpu(c->local_id);
	CHECK_INT(ubus_lookup_id(c, "demo", &id), 0);
	CHECK_INT(id, obj_id);
	CHECK_FRAME(2, C2B, 0, "00 04 00 01 00 00 00 00 00 00 00 10 02 00 00 09 64 65 6d 6f 00 00 00 00");
	CHECK_FRAME(2, B2C, 1, "00 02 00 01 00 00 00 00 00 00 00 6c "
		    "02 00 00 09 64 65 6d 6f 00 00 00 00 03 00 00 08 %08x 05 00 00 08 %08x " SIG_DEMO,
		    obj_id, type_id);
	CHECK_FRAME(2, B2C, 2, STATUS_OK("00 01", "00 00 00 00"));

	/* (d) ubus call demo m '{"interface1":5}' over all six hops */
	{
		struct blob_buf b = { 0 };

		blob_buf_init(&b, 0);
		blobmsg_add_u32(&b, "interface1", 5);
		count = 0;
		CHECK_INT(ubus_invoke(c, obj_id, "m", b.head, data_cb, &count, 2000), 0);
		CHECK_INT(count, 1);
		blob_buf_free(&b);
	}
	str_attr(user, UBUS_ATTR_USER, getpwuid(getuid())->pw_name);
	str_attr(group, UBUS_ATTR_GROUP, getgrgid(getgid())->gr_name);
#define M_DATA "07 00 00 1c 85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 31 00 00 00 00 00 00 00 05"
#define M_REPLY "03 00 00 08 %08x 07 00 00 38 " \
	"85 00 00 18 00 0a 69 6e 74 65 72 66 61 63 65 31 00 00 00 00 00 00 00 05 " \
	"87 00 00 19 00 10 69 6e 74 65 72 66 61 63 65 32 5f 67 69 76 65 6e 00 00 00 00 00 00"
	CHECK_FRAME(2, C2B, 1, "00 05 00 02 %08x 00 00 00 30 03 00 00 08 %08x "
		    "04 00 00 06 6d 00 00 00 " M_DATA, obj_id, obj_id);
	CHECK_FRAME(1, B2C, 7, "00 05 00 02 %08x 00 00 00 %02zx 03 00 00 08 %08x "
		    "04 00 00 06 6d 00 00 00 %s%s" M_DATA, c_id,
		    (size_t) 4 + 8 + 8 + 28 + (strlen(user) + strlen(group)) / 3, obj_id, user, group);
	CHECK_FRAME(1, C2B, 3, "00 02 00 02 %08x 00 00 00 44 " M_REPLY, c_id, obj_id);
	CHECK_FRAME(1, C2B, 4, "00 01 00 02 %08x 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 %08x",
		    c_id, obj_id);
	CHECK_FRAME(2, B2C, 3, "00 02 00 02 %08x 00 00 00 44 " M_REPLY, obj_id, obj_id);
	CHECK_FRAME(2, B2C, 4, "00 01 00 02 %08x 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 %08x",
		    obj_id, obj_id);

	/* (e) unknown method: the owner's library answers 3 */
	CHECK_INT(ubus_invoke(c, obj_id, "nope", NULL, NULL, NULL, 2000), UBUS_STATUS_METHOD_NOT_FOUND);
	CHECK_FRAME(2, C2B, 2, "00 05 00 03 %08x 00 00 00 1c 03 00 00 08 %08x "
		    "04 00 00 09 6e 6f 70 65 00 00 00 00 07 00 00 04", obj_id, obj_id);
	CHECK_FRAME(1, C2B, 5, "00 01 00 03 %08x 00 00 00 14 01 00 00 08 00 00 00 03 03 00 00 08 %08x",
		    c_id, obj_id);
	CHECK_FRAME(2, B2C, 5, "00 01 00 03 %08x 00 00 00 14 01 00 00 08 00 00 00 03 03 00 00 08 %08x",
		    obj_id, obj_id);
	/* unknown object id: the broker answers 4, echoing seq and peer */
	CHECK_INT(ubus_invoke(c, 0x12345678, "x", NULL, NULL, NULL, 2000), UBUS_STATUS_NOT_FOUND);
	CHECK_FRAME(2, C2B, 3, "00 05 00 04 12 34 56 78 00 00 00 18 03 00 00 08 12 34 56 78 "
		    "04 00 00 06 78 00 00 00 07 00 00 04");
	CHECK_FRAME(2, B2C, 6, "00 01 00 04 12 34 56 78 00 00 00 0c 01 00 00 08 00 00 00 04");
	CHECK_INT(ubus_lookup_id(c, "nothere", &id), UBUS_STATUS_NOT_FOUND);
	CHECK_FRAME(2, C2B, 4, "00 04 00 05 00 00 00 00 00 00 00 10 02 00 00 0c 6e 6f 74 68 65 72 65 00");
	CHECK_FRAME(2, B2C, 7, "00 01 00 05 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 04");

	/* REMOVE_OBJECT of the last object of its type gives the type back */
	CHECK_INT(ubus_add_object(a, &gone_obj), 0);
	gone_id = gone_obj.id;
	gone_type_id = gone_type.id;
	CHECK(gone_type_id != 0);
	CHECK_INT(ubus_remove_object(a, &gone_obj), 0);
	CHECK_INT(gone_obj.id, 0);
	CHECK_INT(gone_type.id, 0);
	CHECK_FRAME(0, C2B, 3, "00 07 00 04 00 00 00 00 00 00 00 0c 03 00 00 08 %08x", gone_id);
	CHECK_FRAME(0, B2C, 5, "00 02 00 04 00 00 00 00 00 00 00 14 03 00 00 08 %08x 05 00 00 08 %08x",
		    gone_id, gone_type_id);
	CHECK_FRAME(0, B2C, 6, STATUS_OK("00 04", "00 00 00 00"));

	/* nothing but what was checked went over the wire */
	CHECK_INT(frames_of(0, C2B), 4);
	CHECK_INT(frames_of(2, C2B), 5);
	CHECK_INT(frames_of(2, B2C), 8);

	ubus_free(a);
	ubus_free(c);
	kill_wait(pid);
	close(out);
	unlink(relay_path);
	broker_stop(&br);
	if (test_failures)
		fprintf(stderr, "%d check(s) failed\n", test_failures);
	return test_failures ? 1 : 0;
}
