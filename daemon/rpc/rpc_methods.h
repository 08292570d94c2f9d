#ifndef VELOXD_RPC_METHODS_H
#define VELOXD_RPC_METHODS_H

extern "C" {
#include <libubus.h>
}

/* Positions in interface_policy and in the parse table of the handlers. */
enum {
	RPC_ARG_INTERFACE1,
	RPC_ARG_INTERFACE2,
	__RPC_ARG_MAX,
};

/* Shared by every handler; only the event-loop thread touches them. */
extern struct blob_buf rpc_buf;
extern const struct blobmsg_policy interface_policy[__RPC_ARG_MAX];

int ubus_test(struct ubus_context *ctx, struct ubus_object *obj,
	      struct ubus_request_data *req, const char *method,
	      struct blob_attr *msg);
int ubus_get_interface_list(struct ubus_context *ctx, struct ubus_object *obj,
			    struct ubus_request_data *req, const char *method,
			    struct blob_attr *msg);
int ubus_get_display_interface(struct ubus_context *ctx, struct ubus_object *obj,
			       struct ubus_request_data *req, const char *method,
			       struct blob_attr *msg);
int ubus_get_throughput(struct ubus_context *ctx, struct ubus_object *obj,
			struct ubus_request_data *req, const char *method,
			struct blob_attr *msg);
int ubus_get_lan_port_info(struct ubus_context *ctx, struct ubus_object *obj,
			   struct ubus_request_data *req, const char *method,
			   struct blob_attr *msg);
int ubus_set_display_interface(struct ubus_context *ctx, struct ubus_object *obj,
			       struct ubus_request_data *req, const char *method,
			       struct blob_attr *msg);

#endif
