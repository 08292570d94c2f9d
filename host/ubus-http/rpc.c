/*
 * rpc.c - the JSON-RPC subset spoken on the ubus endpoint
 *
 * Every request gets a reply with "jsonrpc" and its "id" (null when absent);
 * bus errors travel in result[0], only envelope, lookup, access and transport
 * failures become JSON-RPC errors.
 *
 * A body is answered in two rounds, neither of them waited for: first the
 * objects it calls are looked up and its listings made (off the loop, see
 * query.h), then its elements are taken in order, access checks and session
 * calls at once and bus calls started. All of a body shares one deadline,
 * the call timeout from when it arrived, so a batch is answered within one
 * timeout however many of its calls hang. A call whose object was not looked
 * up in time cannot start (-32603, as without a bus); one started but not
 * answered in time has timed out (-32003).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <json-c/json.h>
#include <libubus.h>

#include "bus.h"
#include "query.h"
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
/* Calls in one body to the same object share its lookup, for this many objects. */
#define LOOKUPS_SHARED	8

enum elem_kind {
	ELEM_ANSWERED,
	ELEM_CALL,
	ELEM_LIST,
};

struct rpc_lookup {
	struct rpc_batch *b;
	const char *object;		/* the body's */
	struct query *q;		/* while asked */
	enum bus_result result;		/* BUS_NO_CONNECTION until answered */
	uint32_t id;
};

struct rpc_elem {
	struct rpc_batch *b;
	enum elem_kind kind;
	struct json_object *id;		/* the body's */
	struct json_object *reply;	/* once answered */
	/* a call: what the body names, and how far it got */
	const char *sid, *object, *method;
	struct json_object *args;
	struct rpc_lookup *lookup;	/* NULL for the session object */
	struct bus_call *call;
	/* a listing */
	bool all_paths;
	struct query *listing;
};

struct rpc_batch {
	struct json_object *body;
	bool single;
	size_t n, n_lookups;
	struct rpc_elem *elems;
	struct rpc_lookup *lookups;
	int waiting;			/* queries and calls not answered yet */
	bool ran;			/* the elements have been taken in order */
	bool expired;
	bool in_handle;			/* still inside rpc_handle: the reply is returned */
	bool finished;
	char *text;
	struct uloop_timeout deadline;
	char addr[64];
	rpc_reply_fn reply;
	void *priv;
};

static bool check_access = true;
static int call_timeout_ms = 60000;

void rpc_init(bool check, int timeout_ms)
{
	check_access = check;
	call_timeout_ms = timeout_ms;
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

static int cmp_paths(const void *a, const void *b)
{
	return strcmp(json_object_get_string(*(struct json_object *const *)a),
		      json_object_get_string(*(struct json_object *const *)b));
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

static void advance(struct rpc_batch *b);

static void batch_answered(struct rpc_batch *b)
{
	b->waiting--;
	advance(b);
}

static void lookup_answered(struct query *q)
{
	struct rpc_lookup *lk = q->priv;

	lk->q = NULL;
	lk->result = q->result;
	lk->id = q->id;
	if (q->ctx) {
		bus_adopt(q->ctx);
		q->ctx = NULL;
	}
	batch_answered(lk->b);
}

static struct rpc_lookup *lookup_for(struct rpc_batch *b, const char *object)
{
	struct rpc_lookup *lk;
	size_t i;

	for (i = 0; i < b->n_lookups && i < LOOKUPS_SHARED; i++)
		if (!strcmp(b->lookups[i].object, object))
			return &b->lookups[i];
	lk = &b->lookups[b->n_lookups++];
	lk->object = object;
	lk->result = BUS_NO_CONNECTION;
	lk->q = query_new(QUERY_LOOKUP, lookup_answered, lk);
	if (!lk->q || query_add_arg(lk->q, object)) {
		if (lk->q)
			query_cancel(lk->q);
		lk->q = NULL;
		return lk;
	}
	/* a connection for the calls comes along with the first lookup */
	lk->q->want_ctx = b->n_lookups == 1 && !bus_connected();
	query_submit(lk->q);
	b->waiting++;
	return lk;
}

static void call_parse(struct rpc_elem *e, struct json_object *params)
{
	if (!json_object_is_type(params, json_type_array) || json_object_array_length(params) < 4) {
		e->reply = reply_error(e->id, RPC_PARSE_ERROR);
		return;
	}
	e->sid = param_string(params, 0);
	e->object = param_string(params, 1);
	e->method = param_string(params, 2);
	e->args = json_object_array_get_idx(params, 3);
	if (!check_access && (!e->sid || !e->sid[0]))
		e->sid = SESSION_ANON_ID;
	if (!e->sid || !e->object || !e->method || !json_object_is_type(e->args, json_type_object)) {
		e->reply = reply_error(e->id, RPC_PARSE_ERROR);
		return;
	}
	e->kind = ELEM_CALL;
	if (strcmp(e->object, SESSION_OBJECT))
		e->lookup = lookup_for(e->b, e->object);
}

/* Without an answer a listing of everything fails; one of patterns is empty. */
static struct json_object *listing_failed(struct rpc_elem *e)
{
	if (e->all_paths)
		return reply_error(e->id, RPC_INTERNAL_ERROR);
	return reply_result(e->id, json_object_new_object());
}

static void listing_answered(struct query *q)
{
	struct rpc_elem *e = q->priv;

	e->listing = NULL;
	if (q->result != BUS_OK) {
		e->reply = listing_failed(e);
	} else {
		if (e->all_paths) {
			json_object_array_add(q->json, json_object_new_string(SESSION_OBJECT));
			json_object_array_sort(q->json, cmp_paths);
		}
		e->reply = reply_result(e->id, q->json);
		q->json = NULL;
	}
	batch_answered(e->b);
}

static void list_start(struct rpc_elem *e, struct json_object *params)
{
	size_t i, n;

	e->kind = ELEM_LIST;
	e->all_paths = !json_object_is_type(params, json_type_array);
	e->listing = query_new(e->all_paths ? QUERY_PATHS : QUERY_SIGNATURES, listing_answered, e);
	if (!e->listing) {
		e->reply = listing_failed(e);
		return;
	}
	n = e->all_paths ? 0 : json_object_array_length(params);
	for (i = 0; i < n; i++) {
		const char *pattern = param_string(params, i);

		if (pattern && query_add_arg(e->listing, pattern))
			break;
	}
	if (!e->all_paths && (i < n || !e->listing->n_args)) {
		query_cancel(e->listing);
		e->listing = NULL;
		e->reply = i < n ? listing_failed(e) : reply_result(e->id, json_object_new_object());
		return;
	}
	query_submit(e->listing);
	e->b->waiting++;
}

static void elem_parse(struct rpc_elem *e, struct json_object *req)
{
	struct json_object *v, *params = NULL;
	const char *method;

	if (!json_object_is_type(req, json_type_object)) {
		e->reply = reply_error(NULL, RPC_PARSE_ERROR);
		return;
	}
	json_object_object_get_ex(req, "id", &e->id);
	if (!json_object_object_get_ex(req, "jsonrpc", &v) ||
	    !json_object_is_type(v, json_type_string) || strcmp(json_object_get_string(v), "2.0") ||
	    !json_object_object_get_ex(req, "method", &v) || !json_object_is_type(v, json_type_string)) {
		e->reply = reply_error(e->id, RPC_PARSE_ERROR);
		return;
	}
	method = json_object_get_string(v);
	json_object_object_get_ex(req, "params", &params);
	if (!strcmp(method, "call"))
		call_parse(e, params);
	else if (!strcmp(method, "list"))
		list_start(e, params);
	else
		e->reply = reply_error(e->id, RPC_METHOD_NOT_FOUND);
}

static void call_answered(void *priv, enum bus_result r, int status, struct json_object *data)
{
	struct rpc_elem *e = priv;

	e->call = NULL;
	if (r == BUS_OK)
		e->reply = reply_result(e->id, call_result(status, data));
	else
		e->reply = reply_error(e->id, RPC_INTERNAL_ERROR);
	batch_answered(e->b);
}

static struct json_object *session_run(struct rpc_elem *e)
{
	struct json_object *a = session_args(e->args, e->sid), *data = NULL;
	int status = session_call(e->method, a, e->b->addr, &data);

	json_object_put(a);
	return reply_result(e->id, call_result(status, data));
}

/* In body order: the checks the router makes, then the call itself. */
static void call_run(struct rpc_elem *e)
{
	struct rpc_lookup *lk = e->lookup;
	enum bus_result r;
	int status = 0;

	if (lk && lk->result == BUS_NO_OBJECT)
		e->reply = reply_error(e->id, RPC_OBJECT_NOT_FOUND);
	else if (check_access && !session_allowed(e->sid, "ubus", e->object, e->method))
		e->reply = reply_error(e->id, RPC_ACCESS_DENIED);
	else if (json_object_object_get_ex(e->args, "ubus_rpc_session", NULL))
		e->reply = reply_error(e->id, RPC_INVALID_PARAMS);
	else if (!lk)
		e->reply = session_run(e);
	else if (lk->result != BUS_OK)
		e->reply = reply_error(e->id, RPC_INTERNAL_ERROR);
	else if (e->b->expired)
		e->reply = reply_error(e->id, RPC_TIMEOUT);
	if (e->reply)
		return;
	e->call = bus_call_start(lk->id, e->method, e->args, e->sid, call_answered, e, &r, &status);
	if (e->call)
		e->b->waiting++;
	else if (r == BUS_OK)
		e->reply = reply_result(e->id, call_result(status, NULL));
	else
		e->reply = reply_error(e->id, RPC_INTERNAL_ERROR);
}

static void batch_free(struct rpc_batch *b)
{
	size_t i;

	uloop_timeout_cancel(&b->deadline);
	for (i = 0; i < b->n; i++)
		json_object_put(b->elems[i].reply);
	json_object_put(b->body);
	free(b->elems);
	free(b->lookups);
	free(b);
}

static void finish(struct rpc_batch *b)
{
	struct json_object *out;
	rpc_reply_fn reply = b->reply;
	void *priv = b->priv;
	char *text;
	size_t i;

	if (b->single) {
		out = b->elems[0].reply;
		b->elems[0].reply = NULL;
	} else {
		out = json_object_new_array();
		for (i = 0; i < b->n; i++) {
			json_object_array_add(out, b->elems[i].reply);
			b->elems[i].reply = NULL;
		}
	}
	text = serialise(out);
	if (b->in_handle) {
		b->finished = true;
		b->text = text;
		return;
	}
	batch_free(b);
	reply(priv, text);
}

static void advance(struct rpc_batch *b)
{
	size_t i;

	if (b->waiting)
		return;
	if (!b->ran) {
		b->ran = true;
		for (i = 0; i < b->n; i++)
			if (!b->elems[i].reply && b->elems[i].kind == ELEM_CALL)
				call_run(&b->elems[i]);
		if (b->waiting)
			return;
	}
	finish(b);
}

/* Stops all waiting; with ANSWER what waited gets its reply. */
static void batch_stop(struct rpc_batch *b, bool answer)
{
	size_t i;

	for (i = 0; i < b->n_lookups; i++) {
		if (b->lookups[i].q)
			query_cancel(b->lookups[i].q);
		b->lookups[i].q = NULL;
	}
	for (i = 0; i < b->n; i++) {
		struct rpc_elem *e = &b->elems[i];

		if (e->listing) {
			query_cancel(e->listing);
			e->listing = NULL;
			if (answer)
				e->reply = listing_failed(e);
		}
		if (e->call) {
			bus_call_cancel(e->call);
			e->call = NULL;
			if (answer)
				e->reply = reply_error(e->id, RPC_TIMEOUT);
		}
	}
	b->waiting = 0;
}

static void batch_expire(struct uloop_timeout *t)
{
	struct rpc_batch *b = container_of(t, struct rpc_batch, deadline);

	b->expired = true;
	batch_stop(b, true);
	advance(b);
}

static struct rpc_batch *batch_new(struct json_object *body, const char *addr,
				   rpc_reply_fn reply, void *priv)
{
	struct rpc_batch *b = calloc(1, sizeof(*b));
	size_t i;

	if (!b)
		return NULL;
	b->single = json_object_is_type(body, json_type_object);
	b->n = b->single ? 1 : json_object_array_length(body);
	b->elems = calloc(b->n + 1, sizeof(*b->elems));
	b->lookups = calloc(b->n + 1, sizeof(*b->lookups));
	if (!b->elems || !b->lookups) {
		free(b->elems);
		free(b->lookups);
		free(b);
		return NULL;
	}
	b->body = body;
	for (i = 0; i < b->n; i++) {
		b->elems[i].b = b;
		b->lookups[i].b = b;
	}
	snprintf(b->addr, sizeof(b->addr), "%s", addr);
	b->reply = reply;
	b->priv = priv;
	b->deadline.cb = batch_expire;
	return b;
}

char *rpc_handle(const char *body, size_t len, const char *addr,
		 rpc_reply_fn reply, void *priv, struct rpc_batch **pending)
{
	struct json_object *req = parse_body(body, len);
	struct rpc_batch *b = NULL;
	char *text;
	size_t i;

	*pending = NULL;
	if (json_object_is_type(req, json_type_object) || json_object_is_type(req, json_type_array))
		b = batch_new(req, addr, reply, priv);
	if (!b) {
		json_object_put(req);
		return rpc_reply_parse_error();
	}
	b->in_handle = true;
	uloop_timeout_set(&b->deadline, call_timeout_ms);
	for (i = 0; i < b->n; i++)
		elem_parse(&b->elems[i], b->single ? req : json_object_array_get_idx(req, i));
	advance(b);
	b->in_handle = false;
	if (!b->finished) {
		*pending = b;
		return NULL;
	}
	text = b->text;
	batch_free(b);
	return text;
}

void rpc_cancel(struct rpc_batch *b)
{
	batch_stop(b, false);
	batch_free(b);
}

char *rpc_reply_parse_error(void)
{
	return serialise(reply_error(NULL, RPC_PARSE_ERROR));
}
