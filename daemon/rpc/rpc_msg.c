/* Reply buffer and argument parsing of the bus service. */
#include "rpc/rpc_msg.h"

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>
#include <libubus.h>

#include "rpc/rpc_bus.h"

/*
 * Its storage is static and larger than the largest reply, a day of history:
 * four arrays of 288 texts of at most 13 characters, 24 bytes each as blob
 * attributes, after four fields of less than 100 bytes. It is never
 * reallocated, so a large reply leaves no copies of itself on the heap, and
 * only as much of it as replies have used is ever touched.
 */
#define RPC_REPLY_SIZE (28 * 1024)
static uint32_t rpc_reply_storage[RPC_REPLY_SIZE / 4];

static bool rpc_reply_full(struct blob_buf *buf, int minlen)
{
	return false;
}

/*
 * One buffer for every reply: only the event-loop thread touches it. These
 * records and the policies are set by member name, which every generation
 * has (the others stay zero).
 */
struct blob_buf rpc_buf = {
	.grow = rpc_reply_full,
	.buflen = sizeof(rpc_reply_storage),
	.buf = rpc_reply_storage,
};

const struct blobmsg_policy interface_policy[__RPC_ARG_MAX] = {
	[RPC_ARG_INTERFACE1] = { .name = "interface1", .type = BLOBMSG_TYPE_INT32 },
	[RPC_ARG_INTERFACE2] = { .name = "interface2", .type = BLOBMSG_TYPE_INT32 },
};

const struct blobmsg_policy history_policy[__HISTORY_ARG_MAX] = {
	[HISTORY_ARG_INTERFACE1] = { .name = "interface1", .type = BLOBMSG_TYPE_INT32 },
	[HISTORY_ARG_RANGE] = { .name = "range", .type = BLOBMSG_TYPE_STRING },
};

static void parse(const struct blobmsg_policy *policy, int n, struct blob_attr *msg, struct rpc_args *args)
{
	struct blob_attr *tb[RPC_ARGS_MAX];
	int i;

	blobmsg_parse(policy, n, tb, blob_data(msg), blob_len(msg));
	for (i = 0; i < n; i++) {
		args->present[i] = tb[i] != NULL;
		args->value[i] = 0;
		args->text[i] = NULL;
		if (!tb[i])
			continue;
		if (policy[i].type == BLOBMSG_TYPE_STRING)
			args->text[i] = blobmsg_get_string(tb[i]);
		else
			args->value[i] = blobmsg_get_u32(tb[i]);
	}
}

void rpc_parse_args(struct blob_attr *msg, struct rpc_args *args)
{
	parse(interface_policy, __RPC_ARG_MAX, msg, args);
}

void rpc_parse_history_args(struct blob_attr *msg, struct rpc_args *args)
{
	parse(history_policy, __HISTORY_ARG_MAX, msg, args);
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

void *rpc_reply_open_array(const char *name)
{
	return blobmsg_open_array(&rpc_buf, name);
}

void rpc_reply_close_array(void *cookie)
{
	blobmsg_close_array(&rpc_buf, cookie);
}

/*
 * The whole pages of the storage that the reply wrote on go back to the
 * kernel: a history asked for now and then keeps no memory between the
 * calls. The part before the first page boundary shares its page with other
 * records, which keep it anyway; small replies fit there.
 */
void rpc_reply_release(void)
{
	uintptr_t page = (uintptr_t)getpagesize();
	uintptr_t start = (uintptr_t)rpc_reply_storage;
	uintptr_t from = (start + page - 1) & ~(page - 1);
	uintptr_t to = (start + blob_pad_len(rpc_buf.head) + page - 1) & ~(page - 1);
	uintptr_t end = (start + sizeof(rpc_reply_storage)) & ~(page - 1);

	if (to > end)
		to = end;
	if (to > from)
		madvise((void *)from, to - from, MADV_DONTNEED);
}

int rpc_reply_send(struct ubus_context *ctx, struct ubus_request_data *req)
{
	ubus_send_reply(ctx, req, rpc_buf.head);
	rpc_reply_release();
	return UBUS_STATUS_OK;
}
