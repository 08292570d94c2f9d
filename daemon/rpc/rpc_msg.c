/* Reply buffer and argument parsing of the bus service. */
#include "rpc/rpc_msg.h"

#include <string.h>

#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>
#include <libubus.h>

#include "rpc/rpc_bus.h"

/* One buffer for every reply: only the event-loop thread touches it. */
struct blob_buf rpc_buf;
struct blobmsg_policy interface_policy[__RPC_ARG_MAX];

static const struct {
	const char *name;
	enum blobmsg_type type;
} rpc_arg_table[__RPC_ARG_MAX] = {
	[RPC_ARG_INTERFACE1] = { "interface1", BLOBMSG_TYPE_INT32 },
	[RPC_ARG_INTERFACE2] = { "interface2", BLOBMSG_TYPE_INT32 },
};

/* By member name: the record's layout is not the same in every generation. */
void rpc_policy_init(void)
{
	int i;

	memset(interface_policy, 0, sizeof(interface_policy));
	for (i = 0; i < __RPC_ARG_MAX; i++) {
		interface_policy[i].name = rpc_arg_table[i].name;
		interface_policy[i].type = rpc_arg_table[i].type;
	}
}

void rpc_parse_args(struct blob_attr *msg, struct rpc_args *args)
{
	struct blob_attr *tb[__RPC_ARG_MAX];
	int i;

	blobmsg_parse(interface_policy, __RPC_ARG_MAX, tb, blob_data(msg), blob_len(msg));
	for (i = 0; i < __RPC_ARG_MAX; i++) {
		args->present[i] = tb[i] != NULL;
		args->value[i] = tb[i] ? blobmsg_get_u32(tb[i]) : 0;
	}
}

void rpc_reply_init(void)
{
	blob_buf_init(&rpc_buf, 0);
}

void rpc_reply_add_u32(const char *name, uint32_t value)
{
	blobmsg_add_u32(&rpc_buf, name, value);
}

void rpc_reply_add_string(const char *name, const char *text)
{
	blobmsg_add_string(&rpc_buf, name, text);
}

void rpc_reply_add_json(const char *name, struct json_object *obj)
{
	blobmsg_add_json_element(&rpc_buf, name, obj);
}

void rpc_reply_send(struct ubus_context *ctx, struct ubus_request_data *req)
{
	ubus_send_reply(ctx, req, rpc_buf.head);
}
