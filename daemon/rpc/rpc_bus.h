#ifndef VELOXD_RPC_BUS_H
#define VELOXD_RPC_BUS_H

/* State of the bus service that needs the library's own types: C code only. */
#include <libubus.h>

#include "rpc/rpc_msg.h"

extern struct ubus_context *rpc_ctx;
extern struct blob_buf rpc_buf;
extern const struct blobmsg_policy interface_policy[__RPC_ARG_MAX];
extern const struct blobmsg_policy history_policy[__HISTORY_ARG_MAX];

#endif
