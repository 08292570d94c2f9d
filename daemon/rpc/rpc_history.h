#ifndef VELOXD_RPC_HISTORY_H
#define VELOXD_RPC_HISTORY_H

/* The method of the "veloxd.history" object. Library types by name only. */
#include <time.h>

struct blob_attr;
struct ubus_context;
struct ubus_object;
struct ubus_request_data;

#ifdef __cplusplus
/* Build the reply to the arguments msg at now (monotonic) in rpc_buf: empty when they name no history. */
void history_reply(struct blob_attr *msg, struct timespec now);

extern "C" {
#endif

int ubus_get_history(struct ubus_context *ctx, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method,
		     struct blob_attr *msg);

#ifdef __cplusplus
}
#endif

#endif
