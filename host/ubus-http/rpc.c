/*
 * rpc.c - the JSON-RPC subset spoken on the ubus endpoint
 *
 * Every request gets a reply with "jsonrpc" and its "id" (null when absent);
 * bus errors travel in result[0], only envelope, lookup, access and transport
 * failures become JSON-RPC errors.
 */
#include <stdlib.h>
#include <string.h>
#include <json-c/json.h>
#include <libubus.h>

#include "bus.h"
#include "rpc.h"
#include "session.h"

enum rpc_error {
	RPC_PARSE_ERROR,
	RPC_INVALID_REQUEST,
	RPC_METHOD_NOT_FOUND,
	RPC_INVALID_PARAMS,
	RPC_INTERNAL_ERROR,
	RPC_OBJECT_NOT_FOUND,
	RPC_SESSION_NOT_FOUND,
	RPC_ACCESS_DENIED,
	RPC_TIMEOUT,
	__RPC_ERROR_MAX,
};

static const struct {
	int code;
	const char *message;
} rpc_errors[__RPC_ERROR_MAX] = {
	[RPC_PARSE_ERROR] = { -32700, "Parse error" },
	[RPC_INVALID_REQUEST] = { -32600, "Invalid request" },
	[RPC_METHOD_NOT_FOUND] = { -32601, "Method not found" },
	[RPC_INVALID_PARAMS] = { -32602, "Invalid parameters" },
	[RPC_INTERNAL_ERROR] = { -32603, "Internal error" },
	[RPC_OBJECT_NOT_FOUND] = { -32000, "Object not found" },
	[RPC_SESSION_NOT_FOUND] = { -32001, "Session not found" },
	[RPC_ACCESS_DENIED] = { -32002, "Access denied" },
	[RPC_TIMEOUT] = { -32003, "ubus request timed out" },
};

/* The session object lives in the gateway, not on the bus. */
#define SESSION_OBJECT "session"

static bool check_access = true;
/* the client whose body is being answered */
static const char *client_addr;

/*
 * Objects found during one request body: a batch of calls to one object
 * costs one lookup, not one per call. Forgotten with the body, so an object
 * that went away is seen by the next request.
 */
#define LOOKUP_CACHE	8

static struct {
	char name[64];
	uint32_t id;
} found[LOOKUP_CACHE];
static int n_found;

static enum bus_result lookup(const char *object, uint32_t *id)
{
	enum bus_result br;
	int i;

	for (i = 0; i < n_found; i++) {
		if (!strcmp(found[i].name, object)) {
			*id = found[i].id;
			return BUS_OK;
		}
	}
	br = bus_lookup(object, id);
	if (br == BUS_OK && n_found < LOOKUP_CACHE && strlen(object) < sizeof(found[0].name)) {
		strcpy(found[n_found].name, object);
		found[n_found++].id = *id;
	}
	return br;
}

void rpc_init(bool check)
{
	check_access = check;
}

static struct json_object *reply_new(struct json_object *id)
{
	struct json_object *r = json_object_new_object();

	json_object_object_add(r, "jsonrpc", json_object_new_string("2.0"));
	json_object_object_add(r, "id", json_object_get(id));
	return r;
}

static struct json_object *reply_error(struct json_object *id, enum rpc_error e)
{
	struct json_object *r = reply_new(id), *err = json_object_new_object();

	json_object_object_add(err, "code", json_object_new_int(rpc_errors[e].code));
	json_object_object_add(err, "message", json_object_new_string(rpc_errors[e].message));
	json_object_object_add(r, "error", err);
	return r;
}

static struct json_object *reply_result(struct json_object *id, struct json_object *result)
{
	struct json_object *r = reply_new(id);

	json_object_object_add(r, "result", result);
	return r;
}

/* [status] or [status, {data}]; never an empty table */
static struct json_object *call_result(int status, struct json_object *data)
{
	struct json_object *a = json_object_new_array();

	json_object_array_add(a, json_object_new_int(status));
	if (data && json_object_object_length(data))
		json_object_array_add(a, data);
	else
		json_object_put(data);
	return a;
}

static const char *param_string(struct json_object *params, size_t i)
{
	struct json_object *v = json_object_array_get_idx(params, i);

	return json_object_is_type(v, json_type_string) ? json_object_get_string(v) : NULL;
}

static struct json_object *session_args(struct json_object *args, const char *sid)
{
	struct json_object *a = json_object_new_object();

	json_object_object_foreach(args, k, v)
		json_object_object_add(a, k, json_object_get(v));
	json_object_object_add(a, "ubus_rpc_session", json_object_new_string(sid));
	return a;
}

static struct json_object *rpc_call(struct json_object *id, struct json_object *params)
{
	const char *sid, *object, *method;
	struct json_object *args, *data = NULL;
	enum bus_result br = BUS_OK;
	uint32_t obj_id = 0;
	bool local;
	int status;

	if (!json_object_is_type(params, json_type_array) || json_object_array_length(params) < 4)
		return reply_error(id, RPC_PARSE_ERROR);
	sid = param_string(params, 0);
	object = param_string(params, 1);
	method = param_string(params, 2);
	args = json_object_array_get_idx(params, 3);
	if (!check_access && (!sid || !sid[0]))
		sid = SESSION_ANON_ID;
	if (!sid || !object || !method || !json_object_is_type(args, json_type_object))
		return reply_error(id, RPC_PARSE_ERROR);

	local = !strcmp(object, SESSION_OBJECT);
	if (!local)
		br = lookup(object, &obj_id);
	if (br == BUS_NO_OBJECT)
		return reply_error(id, RPC_OBJECT_NOT_FOUND);
	if (check_access && !session_allowed(sid, "ubus", object, method))
		return reply_error(id, RPC_ACCESS_DENIED);
	if (json_object_object_get_ex(args, "ubus_rpc_session", NULL))
		return reply_error(id, RPC_INVALID_PARAMS);
	if (br == BUS_NO_CONNECTION)
		return reply_error(id, RPC_INTERNAL_ERROR);

	if (local) {
		struct json_object *a = session_args(args, sid);

		status = session_call(method, a, client_addr, &data);
		json_object_put(a);
		return reply_result(id, call_result(status, data));
	}
	br = bus_invoke(obj_id, method, args, sid, &status, &data);
	if (br == BUS_TIMED_OUT)
		return reply_error(id, RPC_TIMEOUT);
	if (br != BUS_OK)
		return reply_error(id, RPC_INTERNAL_ERROR);
	return reply_result(id, call_result(status, data));
}

static int cmp_paths(const void *a, const void *b)
{
	return strcmp(json_object_get_string(*(struct json_object *const *)a),
		      json_object_get_string(*(struct json_object *const *)b));
}

static struct json_object *rpc_list(struct json_object *id, struct json_object *params)
{
	struct json_object *res;
	size_t i, n;

	if (!json_object_is_type(params, json_type_array)) {
		res = bus_paths();
		if (!res)
			return reply_error(id, RPC_INTERNAL_ERROR);
		json_object_array_add(res, json_object_new_string(SESSION_OBJECT));
		json_object_array_sort(res, cmp_paths);
		return reply_result(id, res);
	}
	res = json_object_new_object();
	n = json_object_array_length(params);
	for (i = 0; i < n; i++) {
		const char *pattern = param_string(params, i);

		if (pattern)
			bus_signatures(pattern, res);
	}
	return reply_result(id, res);
}

static struct json_object *rpc_element(struct json_object *req)
{
	struct json_object *id = NULL, *v, *params = NULL;
	const char *method;

	if (!json_object_is_type(req, json_type_object))
		return reply_error(NULL, RPC_PARSE_ERROR);
	json_object_object_get_ex(req, "id", &id);
	if (!json_object_object_get_ex(req, "jsonrpc", &v) ||
	    !json_object_is_type(v, json_type_string) || strcmp(json_object_get_string(v), "2.0"))
		return reply_error(id, RPC_PARSE_ERROR);
	if (!json_object_object_get_ex(req, "method", &v) || !json_object_is_type(v, json_type_string))
		return reply_error(id, RPC_PARSE_ERROR);
	method = json_object_get_string(v);
	json_object_object_get_ex(req, "params", &params);
	if (!strcmp(method, "call"))
		return rpc_call(id, params);
	if (!strcmp(method, "list"))
		return rpc_list(id, params);
	return reply_error(id, RPC_METHOD_NOT_FOUND);
}

static char *serialise(struct json_object *o)
{
	char *s = strdup(json_object_to_json_string_ext(o, JSON_C_TO_STRING_PLAIN |
							   JSON_C_TO_STRING_NOSLASHESCAPE));

	json_object_put(o);
	return s;
}

static struct json_object *parse_body(const char *body, size_t len)
{
	struct json_tokener *tok;
	struct json_object *o;

	if (!len)
		return NULL;
	tok = json_tokener_new();
	if (!tok)
		return NULL;
	o = json_tokener_parse_ex(tok, body, (int)len);
	/* A value cut short is as bad as a broken one. */
	if (json_tokener_get_error(tok) != json_tokener_success) {
		json_object_put(o);
		o = NULL;
	}
	json_tokener_free(tok);
	return o;
}

char *rpc_handle(const char *body, size_t len, const char *addr)
{
	struct json_object *req = parse_body(body, len), *out;
	size_t i, n;

	n_found = 0;
	client_addr = addr;
	if (!json_object_is_type(req, json_type_object) && !json_object_is_type(req, json_type_array)) {
		json_object_put(req);
		return rpc_reply_parse_error();
	}
	if (json_object_is_type(req, json_type_object)) {
		out = rpc_element(req);
		json_object_put(req);
		return serialise(out);
	}
	out = json_object_new_array();
	n = json_object_array_length(req);
	for (i = 0; i < n; i++)
		json_object_array_add(out, rpc_element(json_object_array_get_idx(req, i)));
	json_object_put(req);
	return serialise(out);
}

char *rpc_reply_parse_error(void)
{
	return serialise(reply_error(NULL, RPC_PARSE_ERROR));
}
