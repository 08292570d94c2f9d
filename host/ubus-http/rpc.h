/*
 * rpc.h - the JSON-RPC subset spoken on the ubus endpoint
 */
#ifndef UBUS_HTTP_RPC_H
#define UBUS_HTTP_RPC_H

#include <stdbool.h>
#include <stddef.h>

#define RPC_BODY_MAX	65536

struct rpc_batch;

/* The reply to a body, now the callee's to free(). */
typedef void (*rpc_reply_fn)(void *priv, char *reply);

/* ACL checks are skipped when check_access is false; every call has timeout_ms in all. */
void rpc_init(bool check_access, int timeout_ms);

/*
 * Answers one request body (a single call or a batch) from the client at
 * ADDR: returns the reply when it is ready at once (free() it), else NULL
 * and REPLY runs from the loop later; *pending is then the work under way,
 * for rpc_cancel.
 */
char *rpc_handle(const char *body, size_t len, const char *addr,
		 rpc_reply_fn reply, void *priv, struct rpc_batch **pending);
/* Drops the work for a body: REPLY never runs. */
void rpc_cancel(struct rpc_batch *b);

/* The reply to a body that is not JSON, or too long. */
char *rpc_reply_parse_error(void);

#endif
