/*
 * ubus_common.h - constants shared by the ubus library, broker and tools
 */
#ifndef __UBUS_COMMON_H
#define __UBUS_COMMON_H

#include <libubox/blobmsg.h>

/* the bus socket of the platform generation we run on */
#define UBUS_UNIX_SOCKET "/var/run/ubus.sock"

#define UBUS_SIGNATURE_METHOD	(BLOBMSG_TYPE_LAST + 1)
#define UBUS_SIGNATURE_END	(BLOBMSG_TYPE_LAST + 2)

#define UBUS_MAX_NOTIFY_PEERS	16

#endif
