#ifndef VELOXD_RPC_HISTORY_H
#define VELOXD_RPC_HISTORY_H

/* The method of the "veloxd.history" object. Library types by name only. */
#include <time.h>

#include "rpc/rpc_methods.h"

#ifdef __cplusplus
/* Build the reply to the arguments msg at now (monotonic) in rpc_buf: empty when they name no history. */
void history_reply(struct blob_attr *msg, struct timespec now);

extern "C" {
#endif

rpc_handler_fn ubus_get_history;

#ifdef __cplusplus
}
#endif

#endif
