/*
 * test_server.c - bus objects for the tests: "demo", "demo.two" and "fmt"
 *
 * usage: ubus-test-server SOCKET [add-uloop|fd-add|no-loop] [default-lost|custom-lost] [PREFIX]
 * Prints "ready" once the objects are published; "lost" when a custom
 * connection-lost handler runs; "done" when uloop_run returns.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <libubus.h>

static struct blob_buf b;
static struct ubus_context *ctx;

enum { M_INTERFACE1, M_INTERFACE2, __M_MAX };

static const struct blobmsg_policy m_policy[__M_MAX] = {
	[M_INTERFACE1] = { .name = "interface1", .type = BLOBMSG_TYPE_INT32 },
	[M_INTERFACE2] = { .name = "interface2", .type = BLOBMSG_TYPE_INT32 },
};

static int demo_status(struct ubus_context *c, struct ubus_object *obj,
		       struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "error_code", 0);
	ubus_send_reply(c, req, b.head);
	return 0;
}

static int demo_m(struct ubus_context *c, struct ubus_object *obj,
		  struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	struct blob_attr *tb[__M_MAX];

	blobmsg_parse(m_policy, __M_MAX, tb, blob_data(msg), blob_len(msg));
	if (!tb[M_INTERFACE1])
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "interface1", blobmsg_get_u32(tb[M_INTERFACE1]));
	blobmsg_add_u8(&b, "interface2_given", tb[M_INTERFACE2] != NULL);
	ubus_send_reply(c, req, b.head);
	return 0;
}

static int fmt_rich(struct ubus_context *c, struct ubus_object *obj,
		    struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	void *l, *t, *n, *e;

	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "name", "eth0");
	blobmsg_add_u8(&b, "up", 1);
	blobmsg_add_u32(&b, "mtu", 1500);
	blobmsg_add_u32(&b, "neg", (uint32_t) -3);
	blobmsg_add_u64(&b, "big", 5000000000ull);
	blobmsg_add_u16(&b, "small", 7);
	blobmsg_add_double(&b, "dbl", 1.5);
	blobmsg_add_string(&b, "esc", "q\"b\\t\tn\nc\001/");
	l = blobmsg_open_array(&b, "list");
	blobmsg_add_string(&b, NULL, "a");
	blobmsg_add_u32(&b, NULL, 2);
	e = blobmsg_open_array(&b, NULL);
	blobmsg_add_string(&b, NULL, "c");
	blobmsg_close_array(&b, e);
	t = blobmsg_open_table(&b, NULL);
	blobmsg_add_string(&b, "k", "v");
	blobmsg_close_table(&b, t);
	blobmsg_close_array(&b, l);
	n = blobmsg_open_table(&b, "nested");
	blobmsg_add_u8(&b, "flag", 0);
	e = blobmsg_open_array(&b, "empty_arr");
	blobmsg_close_array(&b, e);
	e = blobmsg_open_table(&b, "empty_tbl");
	blobmsg_close_table(&b, e);
	blobmsg_close_table(&b, n);
	blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, "nil", NULL, 0);
	ubus_send_reply(c, req, b.head);
	return 0;
}

static int fmt_empty(struct ubus_context *c, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	blob_buf_init(&b, 0);
	ubus_send_reply(c, req, b.head);
	return 0;
}

static int fmt_nodata(struct ubus_context *c, struct ubus_object *obj,
		      struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	return 0;
}

static int fmt_fail(struct ubus_context *c, struct ubus_object *obj,
		    struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	return UBUS_STATUS_NOT_SUPPORTED;
}

static int fmt_err77(struct ubus_context *c, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	return 77;
}

static int fmt_twice(struct ubus_context *c, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "n", 1);
	ubus_send_reply(c, req, b.head);
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "n", 2);
	ubus_send_reply(c, req, b.head);
	return 0;
}

static int fmt_dataerr(struct ubus_context *c, struct ubus_object *obj,
		       struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "partial", "yes");
	ubus_send_reply(c, req, b.head);
	return UBUS_STATUS_UNKNOWN_ERROR;
}

/* echoes its arguments back */
static int fmt_echo(struct ubus_context *c, struct ubus_object *obj,
		    struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	ubus_send_reply(c, req, msg);
	return 0;
}

struct slow_call {
	struct uloop_timeout t;
	struct ubus_request_data req;
};

static void slow_done(struct uloop_timeout *t)
{
	struct slow_call *s = container_of(t, struct slow_call, t);

	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "slow", "done");
	ubus_send_reply(ctx, &s->req, b.head);
	ubus_complete_deferred_request(ctx, &s->req, 0);
	free(s);
}

static int fmt_slow(struct ubus_context *c, struct ubus_object *obj,
		    struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	struct slow_call *s = calloc(1, sizeof(*s));

	if (!s)
		return UBUS_STATUS_NO_MEMORY;
	ubus_defer_request(c, req, &s->req);
	s->t.cb = slow_done;
	uloop_timeout_set(&s->t, 3000);
	/* for tests that act while the call is under way */
	printf("slow\n");
	fflush(stdout);
	return 0;
}

static const struct ubus_method demo_methods[] = {
	UBUS_METHOD_NOARG("status", demo_status),
	UBUS_METHOD("m", demo_m, m_policy),
};

static struct ubus_object_type demo_type = UBUS_OBJECT_TYPE("demo", demo_methods);

static const struct ubus_method fmt_methods[] = {
	UBUS_METHOD_NOARG("rich", fmt_rich),
	UBUS_METHOD_NOARG("empty", fmt_empty),
	UBUS_METHOD_NOARG("nodata", fmt_nodata),
	UBUS_METHOD_NOARG("fail", fmt_fail),
	UBUS_METHOD_NOARG("err77", fmt_err77),
	UBUS_METHOD_NOARG("twice", fmt_twice),
	UBUS_METHOD_NOARG("dataerr", fmt_dataerr),
	UBUS_METHOD_NOARG("echo", fmt_echo),
	UBUS_METHOD_NOARG("slow", fmt_slow),
};

static struct ubus_object_type fmt_type = UBUS_OBJECT_TYPE("fmt", fmt_methods);

static char demo_name[64] = "demo", two_name[64] = "demo.two", fmt_name[64] = "fmt";

static struct ubus_object objects[] = {
	{ .name = demo_name, .type = &demo_type, .methods = demo_methods,
	  .n_methods = ARRAY_SIZE(demo_methods) },
	{ .name = two_name, .type = &demo_type, .methods = demo_methods,
	  .n_methods = ARRAY_SIZE(demo_methods) },
	{ .name = fmt_name, .type = &fmt_type, .methods = fmt_methods,
	  .n_methods = ARRAY_SIZE(fmt_methods) },
};

static void custom_lost(struct ubus_context *c)
{
	printf("lost\n");
	fflush(stdout);
	uloop_end();
}

int main(int argc, char **argv)
{
	const char *mode = argc > 2 ? argv[2] : "add-uloop";
	const char *lost = argc > 3 ? argv[3] : "default-lost";

	if (argc < 2) {
		fprintf(stderr, "usage: %s SOCKET [add-uloop|fd-add] [default-lost|custom-lost] [PREFIX]\n",
			argv[0]);
		return 2;
	}
	if (argc > 4) {
		snprintf(demo_name, sizeof(demo_name), "%s", argv[4]);
		snprintf(two_name, sizeof(two_name), "%s.two", argv[4]);
		snprintf(fmt_name, sizeof(fmt_name), "%s.fmt", argv[4]);
	}
	uloop_init();
	ctx = ubus_connect(argv[1]);
	if (!ctx) {
		fprintf(stderr, "connect failed\n");
		return 1;
	}
	if (!strcmp(lost, "custom-lost"))
		ctx->connection_lost = custom_lost;
	/* veloxd registers the socket itself; both ways must behave the same */
	if (!strcmp(mode, "fd-add"))
		uloop_fd_add(&ctx->sock, ULOOP_READ | ULOOP_BLOCKING);
	else
		ubus_add_uloop(ctx);
	for (size_t i = 0; i < ARRAY_SIZE(objects); i++) {
		int ret = ubus_add_object(ctx, &objects[i]);

		if (ret) {
			fprintf(stderr, "add_object %s: %s\n", objects[i].name, ubus_strerror(ret));
			return 1;
		}
	}
	printf("ready\n");
	fflush(stdout);
	uloop_run();
	printf("done\n");
	fflush(stdout);
	uloop_done();
	ubus_free(ctx);
	blob_buf_free(&b);
	return 0;
}
