/*
 * test_async.c - calls that are not waited for: replies through the loop,
 * several at once, aborted ones, and a broker that goes while they wait
 */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <libubus.h>
#include "testlib.h"

struct call {
	struct ubus_request req;
	int completions;
	int status;
	int order;		/* when it completed, counted from 1 */
	char got[64];		/* "error_code" or "slow" of the reply */
};

static int finished, lost_at;
/* the calls the loop runs for; it ends when all of them completed */
static struct call *watched[2];

static void on_data(struct ubus_request *req, int type, struct blob_attr *msg)
{
	static const struct blobmsg_policy policy[] = {
		{ .name = "error_code", .type = BLOBMSG_TYPE_INT32 },
		{ .name = "slow", .type = BLOBMSG_TYPE_STRING },
	};
	struct call *c = req->priv;
	struct blob_attr *tb[2];

	blobmsg_parse(policy, 2, tb, blob_data(msg), blob_len(msg));
	if (tb[0])
		snprintf(c->got, sizeof(c->got), "error_code=%u", blobmsg_get_u32(tb[0]));
	if (tb[1])
		snprintf(c->got, sizeof(c->got), "slow=%s", blobmsg_get_string(tb[1]));
}

static void on_complete(struct ubus_request *req, int ret)
{
	struct call *c = req->priv;

	c->completions++;
	c->status = ret;
	c->order = ++finished;
	for (size_t i = 0; i < ARRAY_SIZE(watched); i++)
		if (watched[i] && !watched[i]->completions)
			return;
	uloop_end();
}

static void on_lost(struct ubus_context *ctx)
{
	lost_at = ++finished;
	uloop_end();
}

static void give_up(struct uloop_timeout *t)
{
	fprintf(stderr, "the loop waited too long\n");
	uloop_end();
}

static int start(struct ubus_context *ctx, const char *object, const char *method, struct call *c)
{
	uint32_t id = 0;
	int ret;

	memset(c, 0, sizeof(*c));
	CHECK_INT(ubus_lookup_id(ctx, object, &id), 0);
	ret = ubus_invoke_async(ctx, id, method, NULL, &c->req);
	c->req.data_cb = on_data;
	c->req.complete_cb = on_complete;
	c->req.priv = c;
	if (!ret)
		ubus_complete_request_async(ctx, &c->req);
	return ret;
}

/* Runs the loop until a and b (if given) completed, or the context was lost. */
static void run_until(struct call *a, struct call *b)
{
	struct uloop_timeout guard = { .cb = give_up };

	watched[0] = a;
	watched[1] = b;
	if (!a->completions || (b && !b->completions)) {
		uloop_timeout_set(&guard, 20000);
		uloop_run();
		uloop_timeout_cancel(&guard);
	}
	/* calls of the next test may complete before it watches them: these are gone by then */
	watched[0] = watched[1] = NULL;
}

static pid_t start_server(struct broker *br, int *out)
{
	const char *argv[] = { SERVER_BIN, br->path, NULL };

	return spawn_ready(argv, out);
}

/*
 * A slow call and a quick one at once: the quick one completes first, each
 * with its own reply, and a waited-for call between them is not held up.
 */
static void test_concurrent(struct ubus_context *ctx)
{
	struct call slow, quick;
	uint32_t id = 0;

	CHECK_INT(start(ctx, "fmt", "slow", &slow), 0);
	CHECK_INT(start(ctx, "demo", "status", &quick), 0);
	CHECK_INT(ubus_lookup_id(ctx, "demo", &id), 0);
	CHECK_INT(ubus_invoke(ctx, id, "status", NULL, NULL, NULL, 5000), 0);
	run_until(&slow, &quick);
	CHECK_INT(quick.completions, 1);
	CHECK_INT(quick.status, 0);
	CHECK_STR(quick.got, "error_code=0");
	CHECK_INT(slow.completions, 1);
	CHECK_INT(slow.status, 0);
	CHECK_STR(slow.got, "slow=done");
	CHECK(quick.order < slow.order);
}

/* A failing method: its status, no data. An aborted call: nothing at all. */
static void test_status_and_abort(struct ubus_context *ctx)
{
	struct call fail, dropped, after;

	CHECK_INT(start(ctx, "fmt", "fail", &fail), 0);
	CHECK_INT(start(ctx, "demo", "status", &dropped), 0);
	ubus_abort_request(ctx, &dropped.req);
	ubus_abort_request(ctx, &dropped.req);
	/* the broker and the server keep the order: the aborted reply came first */
	CHECK_INT(start(ctx, "demo", "status", &after), 0);
	run_until(&fail, &after);
	CHECK_INT(fail.status, UBUS_STATUS_NOT_SUPPORTED);
	CHECK_STR(fail.got, "");
	CHECK_INT(after.status, 0);
	CHECK_INT(dropped.completions, 0);
	CHECK_STR(dropped.got, "");
	CHECK(dropped.req.cancelled);
}

/* The broker goes: what waits fails with 7 before connection_lost runs. */
static void test_broker_gone(struct ubus_context *ctx, struct broker *br)
{
	struct call slow;

	CHECK_INT(start(ctx, "fmt", "slow", &slow), 0);
	ctx->connection_lost = on_lost;
	broker_stop(br);
	run_until(&slow, NULL);
	CHECK_INT(slow.completions, 1);
	CHECK_INT(slow.status, UBUS_STATUS_TIMEOUT);
	CHECK(lost_at > slow.order);
	CHECK_INT(ubus_invoke_async(ctx, 1, "status", NULL, &slow.req), UBUS_STATUS_CONNECTION_FAILED);
}

int main(void)
{
	struct ubus_context *ctx = NULL;
	struct broker br;
	pid_t server;
	int out = -1;

	signal(SIGPIPE, SIG_IGN);
	CHECK(broker_start(&br));
	server = start_server(&br, &out);
	CHECK(server > 0);
	if (server > 0)
		ctx = ubus_connect(br.path);
	CHECK(ctx != NULL);
	if (ctx) {
		ubus_add_uloop(ctx);
		test_concurrent(ctx);
		test_status_and_abort(ctx);
		test_broker_gone(ctx, &br);
		ubus_free(ctx);
	}
	if (server > 0) {
		kill_wait(server);
		close(out);
	}
	broker_stop(&br);
	uloop_done();
	if (test_failures)
		fprintf(stderr, "%d check(s) failed\n", test_failures);
	return test_failures ? 1 : 0;
}
