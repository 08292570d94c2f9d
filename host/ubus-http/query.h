/*
 * query.h - bus questions that wait for the broker itself (connecting,
 * lookups, listings), answered on a thread of their own so that a stopped
 * broker holds none of the loop
 */
#ifndef UBUS_HTTP_QUERY_H
#define UBUS_HTTP_QUERY_H

#include <stdbool.h>
#include <stdint.h>
#include <json-c/json.h>
#include <libubox/list.h>

#include "bus.h"

struct ubus_context;

enum query_kind {
	QUERY_LOOKUP,		/* the id of object args[0] */
	QUERY_PATHS,		/* sorted paths of all objects */
	QUERY_SIGNATURES,	/* {path: {method: {arg: type}}} of objects matching args */
};

struct query {
	enum query_kind kind;
	char **args;
	int n_args;
	/* also connect a context for the loop (see bus_adopt) */
	bool want_ctx;

	/* the answer, for the done callback; it may take json and ctx */
	enum bus_result result;
	uint32_t id;
	struct json_object *json;
	struct ubus_context *ctx;

	void (*done)(struct query *q);
	void *priv;

	/* the module's own */
	struct list_head list;
	struct ubus_context *retired;
	bool taken, cancelled;
};

int query_init(const char *socket_path);
void query_done(void);

struct query *query_new(enum query_kind kind, void (*done)(struct query *q), void *priv);
int query_add_arg(struct query *q, const char *arg);
/* DONE runs from the loop, never from within this call; then q is freed. */
void query_submit(struct query *q);
/* DONE will not run; q is freed here or once the thread is done with it. */
void query_cancel(struct query *q);

#endif
