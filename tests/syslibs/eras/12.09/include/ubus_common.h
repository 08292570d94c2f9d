/* Test fixture: the early-2013 common bus definitions. */
#ifndef FIXTURE_UBUS_COMMON_H
#define FIXTURE_UBUS_COMMON_H

#define UBUS_UNIX_SOCKET "/var/run/ubus.sock"
#define UBUS_SIGNATURE_METHOD	(BLOBMSG_TYPE_LAST + 1)
#define UBUS_SIGNATURE_END	(BLOBMSG_TYPE_LAST + 2)

#endif
