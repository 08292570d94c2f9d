/* Bus connection, the published objects "veloxd" and "veloxd.history", and the event loop. */
#include "rpc/rpc.h"

#include <libubox/uloop.h>
#include <libubus.h>

#include "core/log.h"
#include "rpc/rpc_bus.h"
#include "rpc/rpc_history.h"
#include "rpc/rpc_methods.h"

#define RPC_SOCKET_PATH "/var/run/ubus.sock"
#define RPC_OBJECT_NAME "veloxd"
#define HISTORY_OBJECT_NAME "veloxd.history"

struct ubus_context *rpc_ctx;

/* The methods of both objects: the six of "veloxd", then those of "veloxd.history". */
static const struct {
	const char *name;
	ubus_handler_t handler;
	const struct blobmsg_policy *policy;	/* null: the method takes no arguments */
} rpc_method_table[] = {
	{ "test", ubus_test, NULL },
	{ "get_interface_list", ubus_get_interface_list, NULL },
	{ "get_display_interface", ubus_get_display_interface, NULL },
	{ "get_throughput", ubus_get_throughput, NULL },
	{ "get_lan_port_info", ubus_get_lan_port_info, interface_policy },
	{ "set_display_interface", ubus_set_display_interface, interface_policy },
	/* beside "veloxd", so that object keeps its six methods as they are */
	{ "get_history", ubus_get_history, history_policy },
};

#define RPC_METHOD_COUNT 6
#define HISTORY_METHOD_COUNT 1
#define ALL_METHOD_COUNT ((int)(sizeof(rpc_method_table) / sizeof(rpc_method_table[0])))

/* Both policies have RPC_ARGS_MAX entries. */
typedef char rpc_policy_sizes[__RPC_ARG_MAX == RPC_ARGS_MAX && __HISTORY_ARG_MAX == RPC_ARGS_MAX ? 1 : -1];

static struct ubus_method rpc_methods[ALL_METHOD_COUNT];
static struct ubus_object_type rpc_object_type;
static struct ubus_object rpc_object;

static struct ubus_object_type history_object_type;
static struct ubus_object history_object;

/*
 * Filled member by member: the records gained members between library
 * generations and their initialiser macros do not compile everywhere. They
 * are static, so the members not named here are zero.
 */
static void object_init(struct ubus_object *obj, struct ubus_object_type *type, const char *name,
			struct ubus_method *methods, int n_methods)
{
	type->name = name;
	type->methods = methods;
	type->n_methods = n_methods;

	obj->name = name;
	obj->type = type;
	obj->methods = methods;
	obj->n_methods = n_methods;
}

static void rpc_object_init(void)
{
	int i;

	for (i = 0; i < ALL_METHOD_COUNT; i++) {
		rpc_methods[i].name = rpc_method_table[i].name;
		rpc_methods[i].handler = rpc_method_table[i].handler;
		if (!rpc_method_table[i].policy)
			continue;
		rpc_methods[i].policy = rpc_method_table[i].policy;
		rpc_methods[i].n_policy = RPC_ARGS_MAX;
	}
	object_init(&rpc_object, &rpc_object_type, RPC_OBJECT_NAME, rpc_methods, RPC_METHOD_COUNT);
	object_init(&history_object, &history_object_type, HISTORY_OBJECT_NAME, rpc_methods + RPC_METHOD_COUNT,
		    HISTORY_METHOD_COUNT);
}

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

/* Firmware from 2021 on keeps the socket elsewhere: then the library knows where. */
static struct ubus_context *rpc_connect(void)
{
	struct ubus_context *ctx = ubus_connect(RPC_SOCKET_PATH);

	return ctx ? ctx : ubus_connect(NULL);
}

static int ubus_init(void)
{
	rpc_ctx = rpc_connect();
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
	rpc_object_init();
	if (ubus_add_object(rpc_ctx, &rpc_object) != 0) {
		log_error("Register RPC methods failed\n");
		goto out;
	}
	/* Without the history the six methods still serve. */
	if (ubus_add_object(rpc_ctx, &history_object) != 0)
		log_error("Register RPC methods failed\n");
	/* Its result, where there is one, says nothing the daemon acts on. */
	uloop_run();
out:
	uloop_done();
	if (rpc_ctx)
		ubus_free(rpc_ctx);
}
