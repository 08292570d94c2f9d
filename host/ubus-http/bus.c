/*
 * bus.c - the gateway's calls on the bus, started and answered on the loop
 *
 * One connection carries every call, none of them waited for: a stopped
 * object holds only the calls made to it. The connection is made off the
 * loop (connecting waits for the broker's greeting) and handed over here.
 */
#include <stdlib.h>
#include <libubus.h>
#include <libubox/blobmsg_json.h>

#include "bus.h"

struct bus_call {
	struct ubus_request req;
	struct json_object *data;
	bus_call_done done;
	void *priv;
};

static struct ubus_context *ctx;
static struct blob_buf args_buf;

/* A lost connection is freed from the loop: freeing it in the library's own
 * callback would pull it from under the read loop. */
static void retire(struct uloop_timeout *t)
{
	if (ctx && ctx->sock.eof) {
		ubus_free(ctx);
		ctx = NULL;
	}
}

static struct uloop_timeout retire_timer = { .cb = retire };

/* The library has already failed every call still waiting. */
static void bus_lost(struct ubus_context *c)
{
	uloop_timeout_set(&retire_timer, 0);
}

bool bus_connected(void)
{
	return ctx && !ctx->sock.eof;
}

void bus_adopt(struct ubus_context *c)
{
	if (bus_connected()) {
		ubus_free(c);
		return;
	}
	uloop_timeout_cancel(&retire_timer);
	if (ctx)
		ubus_free(ctx);
	ctx = c;
	ctx->connection_lost = bus_lost;
	ubus_add_uloop(ctx);
}

void bus_done(void)
{
	uloop_timeout_cancel(&retire_timer);
	if (ctx)
		ubus_free(ctx);
	ctx = NULL;
	blob_buf_free(&args_buf);
}

static struct json_object *blob_to_json(struct blob_attr *attr);

static struct json_object *blob_container(struct blob_attr *attr, bool table)
{
	struct json_object *o = table ? json_object_new_object() : json_object_new_array();
	struct blob_attr *cur;
	size_t rem;

	blobmsg_for_each_attr(cur, attr, rem) {
		struct json_object *v = blob_to_json(cur);

		if (table)
			json_object_object_add(o, blobmsg_name(cur), v);
		else
			json_object_array_add(o, v);
	}
	return o;
}

static struct json_object *blob_to_json(struct blob_attr *attr)
{
	switch (blobmsg_type(attr)) {
	case BLOBMSG_TYPE_TABLE:
		return blob_container(attr, true);
	case BLOBMSG_TYPE_ARRAY:
		return blob_container(attr, false);
	case BLOBMSG_TYPE_STRING:
		return json_object_new_string(blobmsg_get_string(attr));
	case BLOBMSG_TYPE_INT64:
		return json_object_new_int64((int64_t)blobmsg_get_u64(attr));
	case BLOBMSG_TYPE_INT32:
		return json_object_new_int((int32_t)blobmsg_get_u32(attr));
	case BLOBMSG_TYPE_INT16:
		return json_object_new_int((int16_t)blobmsg_get_u16(attr));
	case BLOBMSG_TYPE_INT8:
		return json_object_new_boolean(blobmsg_get_u8(attr) != 0);
	case BLOBMSG_TYPE_DOUBLE:
		return json_object_new_double(blobmsg_get_double(attr));
	default:
		return NULL;
	}
}

/* Several replies to one call are merged into one table. */
static void call_data(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct bus_call *call = container_of(req, struct bus_call, req);
	struct blob_attr *cur;
	size_t rem;

	if (!msg)
		return;
	if (!call->data)
		call->data = json_object_new_object();
	blob_for_each_attr(cur, msg, rem)
		if (blobmsg_check_attr(cur, true))
			json_object_object_add(call->data, blobmsg_name(cur), blob_to_json(cur));
}

static void call_complete(struct ubus_request *req, int status)
{
	struct bus_call *call = container_of(req, struct bus_call, req);
	enum bus_result r = BUS_OK;

	/* what the library fails when the connection goes */
	if (status == UBUS_STATUS_TIMEOUT && req->ctx->sock.eof)
		r = BUS_NO_CONNECTION;
	if (r != BUS_OK || (call->data && !json_object_object_length(call->data))) {
		json_object_put(call->data);
		call->data = NULL;
	}
	call->done(call->priv, r, status, call->data);
	free(call);
}

struct bus_call *bus_call_start(uint32_t id, const char *method, struct json_object *args,
				const char *sid, bus_call_done done, void *priv,
				enum bus_result *r, int *status)
{
	struct bus_call *call;
	int ret;

	*r = BUS_NO_CONNECTION;
	if (!bus_connected())
		return NULL;
	blob_buf_init(&args_buf, 0);
	if (!blobmsg_add_object(&args_buf, args) ||
	    blobmsg_add_string(&args_buf, "ubus_rpc_session", sid) < 0)
		return NULL;
	call = calloc(1, sizeof(*call));
	if (!call)
		return NULL;
	ret = ubus_invoke_async(ctx, id, method, args_buf.head, &call->req);
	if (ret) {
		free(call);
		/* a call the library refuses is answered with its status */
		if (ret != UBUS_STATUS_CONNECTION_FAILED && ret != UBUS_STATUS_NO_DATA) {
			*r = BUS_OK;
			*status = ret;
		}
		return NULL;
	}
	call->req.data_cb = call_data;
	call->req.complete_cb = call_complete;
	call->done = done;
	call->priv = priv;
	ubus_complete_request_async(ctx, &call->req);
	return call;
}

void bus_call_cancel(struct bus_call *call)
{
	ubus_abort_request(call->req.ctx, &call->req);
	json_object_put(call->data);
	free(call);
}
