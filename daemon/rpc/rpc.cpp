/* Bus connection, the published "veloxd" object and the event loop. */
#include "rpc/rpc.h"

/* C libraries; not every release of their headers says so itself. */
extern "C" {
#include <libubox/uloop.h>
#include <libubus.h>
}

#include "core/log.h"
#include "rpc/rpc_methods.h"

#define RPC_SOCKET_PATH "/var/run/ubus.sock"

struct ubus_context *rpc_ctx;
struct blob_buf rpc_buf;

const struct blobmsg_policy interface_policy[__RPC_ARG_MAX] = {
	/* RPC_ARG_INTERFACE1 */ { .name = "interface1", .type = BLOBMSG_TYPE_INT32 },
	/* RPC_ARG_INTERFACE2 */ { .name = "interface2", .type = BLOBMSG_TYPE_INT32 },
};

static const struct ubus_method rpc_methods[] = {
	UBUS_METHOD_NOARG("test", ubus_test),
	UBUS_METHOD_NOARG("get_interface_list", ubus_get_interface_list),
	UBUS_METHOD_NOARG("get_display_interface", ubus_get_display_interface),
	UBUS_METHOD_NOARG("get_throughput", ubus_get_throughput),
	UBUS_METHOD("get_lan_port_info", ubus_get_lan_port_info, interface_policy),
	UBUS_METHOD("set_display_interface", ubus_set_display_interface, interface_policy),
};

static struct ubus_object_type rpc_object_type =
	UBUS_OBJECT_TYPE("veloxd", rpc_methods);

static struct ubus_object rpc_object = {
	.avl = {},
	.name = "veloxd",
	.id = 0,
	.path = NULL,
	.type = &rpc_object_type,
	.subscribe_cb = NULL,
	.has_subscribers = false,
	.methods = rpc_methods,
	.n_methods = ARRAY_SIZE(rpc_methods),
};

/*
 * When ubusd goes away the loop has already dropped our socket by the time
 * the library reports the loss, so the library's own handler would leave us
 * idling in uloop_run for ever. End the loop so the process exits and the
 * supervisor can start it again.
 */
static void rpc_connection_lost(struct ubus_context *ctx)
{
	log_error("Lost connection to ubusd\n");
	uloop_end();
}

static int ubus_init(void)
{
	rpc_ctx = ubus_connect(RPC_SOCKET_PATH);
	if (!rpc_ctx) {
		log_error("Connnect to ubusd failed\n\n");
		return -1;
	}
	rpc_ctx->connection_lost = rpc_connection_lost;
	uloop_fd_add(&rpc_ctx->sock, ULOOP_READ | ULOOP_BLOCKING);
	return 0;
}

void rpc_run(void)
{
	uloop_init();

	if (ubus_init() != 0) {
		log_error("Initialise ubus failed\n");
		goto out;
	}
	if (ubus_add_object(rpc_ctx, &rpc_object) != 0) {
		log_error("Register RPC methods failed\n");
		goto out;
	}
	uloop_run();
out:
	uloop_done();
	if (rpc_ctx)
		ubus_free(rpc_ctx);
}
