/*
 * bus.c - the gateway's one connection to the bus
 *
 * All HTTP requests are served on one thread, so one connection does; it is
 * made on first use and again after the broker went away.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <libubus.h>
#include <libubox/blobmsg_json.h>

#include "bus.h"

static struct ubus_context *ctx;
static const char *sock_path;
static int call_timeout_ms;
static struct blob_buf args_buf;

static void bus_lost(struct ubus_context *c)
{
	/* reconnect on the next request; freeing here would pull the
	 * context from under the library's read loop */
}

static struct ubus_context *bus_ctx(void)
{
	if (ctx && ctx->sock.eof) {
		ubus_free(ctx);
		ctx = NULL;
	}
	if (!ctx) {
		ctx = ubus_connect(sock_path);
		if (ctx)
			ctx->connection_lost = bus_lost;
	}
	return ctx;
}

void bus_init(const char *socket_path, int timeout_ms)
{
	sock_path = socket_path;
	call_timeout_ms = timeout_ms;
}

void bus_done(void)
{
	if (ctx)
		ubus_free(ctx);
	ctx = NULL;
	blob_buf_free(&args_buf);
}

enum bus_result bus_lookup(const char *object, uint32_t *id)
{
	struct ubus_context *c = bus_ctx();
	int ret;

	if (!c)
		return BUS_NO_CONNECTION;
	*id = 0;
	ret = ubus_lookup_id(c, object, id);
	if (ret == UBUS_STATUS_CONNECTION_FAILED || c->sock.eof)
		return BUS_NO_CONNECTION;
	return ret || !*id ? BUS_NO_OBJECT : BUS_OK;
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
static void invoke_data(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct json_object **data = req->priv;
	struct blob_attr *cur;
	size_t rem;

	if (!msg)
		return;
	if (!*data)
		*data = json_object_new_object();
	blob_for_each_attr(cur, msg, rem)
		if (blobmsg_check_attr(cur, true))
			json_object_object_add(*data, blobmsg_name(cur), blob_to_json(cur));
}

static long elapsed_ms(const struct timespec *t0)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return (t.tv_sec - t0->tv_sec) * 1000 + (t.tv_nsec - t0->tv_nsec) / 1000000;
}

enum bus_result bus_invoke(uint32_t id, const char *method, struct json_object *args,
			   const char *sid, int *status, struct json_object **data)
{
	struct ubus_context *c = bus_ctx();
	struct timespec t0;

	*data = NULL;
	if (!c)
		return BUS_NO_CONNECTION;
	blob_buf_init(&args_buf, 0);
	if (!blobmsg_add_object(&args_buf, args) ||
	    blobmsg_add_string(&args_buf, "ubus_rpc_session", sid) < 0)
		return BUS_NO_CONNECTION;
	clock_gettime(CLOCK_MONOTONIC, &t0);
	*status = ubus_invoke(c, id, method, args_buf.head, invoke_data, data, call_timeout_ms);
	if (*status == UBUS_STATUS_TIMEOUT && elapsed_ms(&t0) >= call_timeout_ms) {
		json_object_put(*data);
		*data = NULL;
		return BUS_TIMED_OUT;
	}
	if (*status == UBUS_STATUS_CONNECTION_FAILED && c->sock.eof)
		return BUS_NO_CONNECTION;
	if (*data && !json_object_object_length(*data)) {
		json_object_put(*data);
		*data = NULL;
	}
	return BUS_OK;
}

static void add_path(struct ubus_context *c, struct ubus_object_data *obj, void *priv)
{
	json_object_array_add(priv, json_object_new_string(obj->path));
}

struct json_object *bus_paths(void)
{
	struct ubus_context *c = bus_ctx();
	struct json_object *paths;

	if (!c)
		return NULL;
	paths = json_object_new_array();
	ubus_lookup(c, NULL, add_path, paths);
	return paths;
}

static const char *const type_words[] = {
	[BLOBMSG_TYPE_UNSPEC] = "unknown",
	[BLOBMSG_TYPE_ARRAY] = "array",
	[BLOBMSG_TYPE_TABLE] = "object",
	[BLOBMSG_TYPE_STRING] = "string",
	[BLOBMSG_TYPE_INT64] = "unknown",
	[BLOBMSG_TYPE_INT32] = "number",
	[BLOBMSG_TYPE_INT16] = "unknown",
	[BLOBMSG_TYPE_INT8] = "boolean",
	[BLOBMSG_TYPE_DOUBLE] = "unknown",
};

static const char *type_word(uint32_t type)
{
	if (type >= sizeof(type_words) / sizeof(type_words[0]))
		return "unknown";
	return type_words[type];
}

static void add_signature(struct ubus_context *c, struct ubus_object_data *obj, void *priv)
{
	struct json_object *methods;
	struct blob_attr *m, *a;
	size_t rem, arem;

	if (!obj->signature)
		return;
	methods = json_object_new_object();
	blob_for_each_attr(m, obj->signature, rem) {
		struct json_object *args = json_object_new_object();

		if (blobmsg_type(m) == BLOBMSG_TYPE_TABLE)
			blobmsg_for_each_attr(a, m, arem)
				if (blobmsg_type(a) == BLOBMSG_TYPE_INT32)
					json_object_object_add(args, blobmsg_name(a),
							       json_object_new_string(type_word(blobmsg_get_u32(a))));
		json_object_object_add(methods, blobmsg_name(m), args);
	}
	json_object_object_add(priv, obj->path, methods);
}

void bus_signatures(const char *pattern, struct json_object *into)
{
	struct ubus_context *c = bus_ctx();

	if (c)
		ubus_lookup(c, pattern, add_signature, into);
}
