/*
 * rpc.h - the JSON-RPC subset spoken on the ubus endpoint
 */
#ifndef UBUS_HTTP_RPC_H
#define UBUS_HTTP_RPC_H

#include <stdbool.h>
#include <stddef.h>

#define RPC_BODY_MAX	65536

/* ACL checks are skipped when false. */
void rpc_init(bool check_access);
/* The reply to one request body (a single call or a batch) from ADDR; free() it. */
char *rpc_handle(const char *body, size_t len, const char *addr);
/* The reply to a body that is not JSON, or too long. */
char *rpc_reply_parse_error(void);

#endif
