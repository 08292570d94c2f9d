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

struct rpc_args {
	int present[__RPC_ARG_MAX];
	uint32_t value[__RPC_ARG_MAX];
};

/* Fill interface_policy; done once, before the object is published. */
void rpc_policy_init(void);

/* An argument that is absent or not a 32-bit integer is not present. */
void rpc_parse_args(struct blob_attr *msg, struct rpc_args *args);

void rpc_reply_init(void);
void rpc_reply_add_u32(const char *name, uint32_t value);
void rpc_reply_add_string(const char *name, const char *text);
void rpc_reply_add_json(const char *name, struct json_object *obj);
void rpc_reply_send(struct ubus_context *ctx, struct ubus_request_data *req);

#ifdef __cplusplus
}
#endif

#endif
