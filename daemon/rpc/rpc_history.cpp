/* The method of the "veloxd.history" object: one slot's recent or day history. */
#include "rpc/rpc_history.h"

#include <string.h>

#include "rpc/rpc_methods.h"
#include "rpc/rpc_msg.h"
#include "stats/history.h"
#include "stats/interface_list.h"

static const char *const range_names[__HISTORY_RANGE_MAX] = {
	"recent",	/* HISTORY_RANGE_RECENT */
	"day",		/* HISTORY_RANGE_DAY */
};

static const char *const field_names[__HISTORY_FIELD_MAX] = {
	"tx_speed", "rx_speed", "tx_bytes", "rx_bytes",
};

/* "recent" when the argument is missing; -1 for a name it does not know. */
static int range_of(const char *name)
{
	if (!name)
		return HISTORY_RANGE_RECENT;
	for (int r = 0; r < __HISTORY_RANGE_MAX; r++) {
		if (strcmp(name, range_names[r]) == 0)
			return r;
	}
	return -1;
}

void history_reply(struct blob_attr *msg, struct timespec now)
{
	/* Up to a day of entries: copied here, then formatted outside the slot's guard. */
	struct history_copy copy;
	const struct history_copy *c = &copy;
	struct rpc_args args;
	unsigned int slot;
	int range, fields;

	rpc_reply_init();
	rpc_parse_history_args(msg, &args);
	slot = args.value[HISTORY_ARG_INTERFACE1];
	range = range_of(args.text[HISTORY_ARG_RANGE]);
	if (!args.present[HISTORY_ARG_INTERFACE1] || range < 0 || history_read(slot, range, now, &copy) != 0)
		return;

	rpc_reply_add_u32("interface1", slot);
	rpc_reply_add_string("range", range_names[range]);
	rpc_reply_add_u32("interval", range == HISTORY_RANGE_DAY ? HISTORY_INTERVAL : 1);
	rpc_reply_add_u32("age", c->age);
	/* The wired total carries speeds only. */
	fields = range == HISTORY_RANGE_DAY && slot != SLOT_WIRED_SUM ? __HISTORY_FIELD_MAX : HISTORY_TX_BYTES;
	for (int f = 0; f < fields; f++) {
		void *array = rpc_reply_open_array(field_names[f]);

		for (unsigned int i = 0; i < c->count; i++) {
			if (f >= HISTORY_TX_BYTES)
				rpc_add_u64(NULL, history_bytes(c, f & 1, i));
			else
				rpc_add_speed(NULL, history_speed(c, f & 1, i));
		}
		rpc_reply_close_array(array);
	}
}

int ubus_get_history(struct ubus_context *ctx, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method,
		     struct blob_attr *msg)
{
	struct timespec now;

	clock_gettime(CLOCK_MONOTONIC, &now);
	history_reply(msg, now);
	return rpc_reply_send(ctx, req);
}
