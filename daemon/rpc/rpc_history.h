#ifndef VELOXD_RPC_HISTORY_H
#define VELOXD_RPC_HISTORY_H

/* The "veloxd.history" object's method and its arguments: C code only. */
#include <time.h>

#include <libubus.h>

/* Positions in history_policy. */
enum history_arg {
	HISTORY_ARG_INTERFACE1,
	HISTORY_ARG_RANGE,
	__HISTORY_ARG_MAX,
};

extern struct blobmsg_policy history_policy[__HISTORY_ARG_MAX];

/* Fill history_policy; done once, before the object is published. */
void history_policy_init(void);

/* Build the reply to the arguments msg at now (monotonic) in rpc_buf: empty when they name no history. */
void history_reply(struct blob_attr *msg, struct timespec now);

int ubus_get_history(struct ubus_context *ctx, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method,
		     struct blob_attr *msg);

#endif
