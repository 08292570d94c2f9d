#ifndef VELOXD_RPC_METHODS_H
#define VELOXD_RPC_METHODS_H

/* Library types by name only: their headers are included by C code alone. */
struct blob_attr;
struct ubus_context;
struct ubus_object;
struct ubus_request_data;

/* A method's handler, in the library's handler form: status 0, its reply sent. */
typedef int rpc_handler_fn(struct ubus_context *ctx, struct ubus_object *obj, struct ubus_request_data *req,
			   const char *method, struct blob_attr *msg);

#ifdef __cplusplus
#include <stdint.h>

/* Figures as reply text, formatted as every method sends them: "%llu" and "%.2lf". */
void rpc_add_u64(const char *name, uint64_t value);
void rpc_add_speed(const char *name, double value);

extern "C" {
#endif

/* The six methods of "veloxd". */
rpc_handler_fn ubus_test, ubus_get_interface_list, ubus_get_display_interface, ubus_get_throughput,
	ubus_get_lan_port_info, ubus_set_display_interface;

#ifdef __cplusplus
}
#endif

#endif
