/* The method of the "veloxd.history" object: one slot's recent or day history. */
#include "rpc/rpc_history.h"

#include <string.h>

#include <libubox/blobmsg.h>

#include "rpc/rpc_bus.h"
#include "stats/history.h"
#include "stats/interface_list.h"

#define HISTORY_TEXT_SIZE 32

struct blobmsg_policy history_policy[__HISTORY_ARG_MAX];

static const struct {
	const char *name;
	enum blobmsg_type type;
} history_arg_table[__HISTORY_ARG_MAX] = {
	[HISTORY_ARG_INTERFACE1] = { "interface1", BLOBMSG_TYPE_INT32 },
	[HISTORY_ARG_RANGE] = { "range", BLOBMSG_TYPE_STRING },
};

static const char *const range_names[__HISTORY_RANGE_MAX] = {
	[HISTORY_RANGE_RECENT] = "recent",
	[HISTORY_RANGE_DAY] = "day",
};

static const char *const field_names[__HISTORY_FIELD_MAX] = {
	[HISTORY_TX_SPEED] = "tx_speed",
	[HISTORY_RX_SPEED] = "rx_speed",
	[HISTORY_TX_BYTES] = "tx_bytes",
	[HISTORY_RX_BYTES] = "rx_bytes",
};

/* A day is up to 288 entries: copied here, then formatted outside the slot's guard. */
static struct history_copy history_buf;

void history_policy_init(void)
{
	int i;

	memset(history_policy, 0, sizeof(history_policy));
	for (i = 0; i < __HISTORY_ARG_MAX; i++) {
		history_policy[i].name = history_arg_table[i].name;
		history_policy[i].type = history_arg_table[i].type;
	}
}

/* "recent" when the argument is missing (or not a string); -1 for a name it does not know. */
static int range_of(struct blob_attr *arg)
{
	int r;

	if (!arg)
		return HISTORY_RANGE_RECENT;
	for (r = 0; r < __HISTORY_RANGE_MAX; r++)
		if (strcmp(blobmsg_get_string(arg), range_names[r]) == 0)
			return r;
	return -1;
}

static void add_field(const struct history_copy *c, int field)
{
	char text[HISTORY_TEXT_SIZE];
	void *array = blobmsg_open_array(&rpc_buf, field_names[field]);
	unsigned int i;

	for (i = 0; i < c->count; i++) {
		history_text(c, field, i, text, sizeof(text));
		blobmsg_add_string(&rpc_buf, NULL, text);
	}
	blobmsg_close_array(&rpc_buf, array);
}

void history_reply(struct blob_attr *msg, struct timespec now)
{
	struct blob_attr *tb[__HISTORY_ARG_MAX];
	unsigned int slot;
	int range, fields, f;

	blob_buf_init(&rpc_buf, 0);
	blobmsg_parse(history_policy, __HISTORY_ARG_MAX, tb, blob_data(msg), blob_len(msg));
	range = range_of(tb[HISTORY_ARG_RANGE]);
	if (!tb[HISTORY_ARG_INTERFACE1] || range < 0)
		return;
	slot = blobmsg_get_u32(tb[HISTORY_ARG_INTERFACE1]);
	if (history_read(slot, range, now, &history_buf) != 0)
		return;

	blobmsg_add_u32(&rpc_buf, "interface1", slot);
	blobmsg_add_string(&rpc_buf, "range", range_names[range]);
	blobmsg_add_u32(&rpc_buf, "interval", range == HISTORY_RANGE_DAY ? HISTORY_INTERVAL : 1);
	blobmsg_add_u32(&rpc_buf, "age", history_buf.age);
	/* The wired total carries speeds only. */
	fields = range == HISTORY_RANGE_DAY && slot != SLOT_WIRED_SUM ? __HISTORY_FIELD_MAX : HISTORY_TX_BYTES;
	for (f = 0; f < fields; f++)
		add_field(&history_buf, f);
}

int ubus_get_history(struct ubus_context *ctx, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method,
		     struct blob_attr *msg)
{
	struct timespec now;

	clock_gettime(CLOCK_MONOTONIC, &now);
	history_reply(msg, now);
	ubus_send_reply(ctx, req, rpc_buf.head);
	return 0;
}
