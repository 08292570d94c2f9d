#ifndef VELOXD_RPC_MSG_H
#define VELOXD_RPC_MSG_H

/*
 * The blob messages of the bus service: the shared reply buffer and the
 * arguments of a call. The library's message headers cannot be compiled as
 * C++ in every generation, so only C code includes them and the handlers
 * work through these calls.
 */
#include <stdint.h>

struct blob_attr;
struct json_object;
struct ubus_context;
struct ubus_request_data;

#ifdef __cplusplus
extern "C" {
#endif

/* Positions in interface_policy and in rpc_args. */
enum rpc_arg {
	RPC_ARG_INTERFACE1,
	RPC_ARG_INTERFACE2,
	__RPC_ARG_MAX,
};

/* Positions in history_policy, the arguments of "veloxd.history", and in rpc_args. */
enum rpc_history_arg {
	HISTORY_ARG_INTERFACE1,
	HISTORY_ARG_RANGE,
	__HISTORY_ARG_MAX,
};

#define RPC_ARGS_MAX 2

struct rpc_args {
	int present[RPC_ARGS_MAX];
	uint32_t value[RPC_ARGS_MAX];		/* a 32-bit integer's */
	const char *text[RPC_ARGS_MAX];		/* a string's, in the message */
};

/* The arguments of a "veloxd" method; one that is absent or of another type is not present. */
void rpc_parse_args(struct blob_attr *msg, struct rpc_args *args);
/* The same for "veloxd.history". */
void rpc_parse_history_args(struct blob_attr *msg, struct rpc_args *args);

void rpc_reply_init(void);
void rpc_reply_add_u32(const char *name, uint32_t value);
void rpc_reply_add_string(const char *name, const char *text);
void rpc_reply_add_json(const char *name, struct json_object *obj);
/* An array in the reply: what is added until it is closed goes in it, with a null name. */
void *rpc_reply_open_array(const char *name);
void rpc_reply_close_array(void *cookie);
/* Give back the storage's whole pages that the reply in rpc_buf wrote on, once it is sent: they read as zeros. */
void rpc_reply_release(void);
/* Send rpc_buf as the call's one reply; returns the status every handler reports then, 0. */
int rpc_reply_send(struct ubus_context *ctx, struct ubus_request_data *req);

#ifdef __cplusplus
}
#endif

#endif
