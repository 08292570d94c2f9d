/* The six methods of the "veloxd" bus object. */
#include "rpc/rpc_methods.h"

#include <stdio.h>
#include <string.h>

/* Found in json/ or json-c/ by the build, as the generation has it. */
extern "C" {
#include <json.h>
}

#include "core/log.h"
#include "rpc/rpc_msg.h"
#include "stats/interface_list.h"

#define RPC_TEXT_SIZE 64
#define RPC_COUNT(a) (sizeof(a) / sizeof((a)[0]))

/* Every figure of a record travels as text, formatted into a cleared buffer. */
void rpc_add_u64(const char *name, uint64_t value)
{
	char text[RPC_TEXT_SIZE];

	memset(text, 0, sizeof(text));
	snprintf(text, sizeof(text), "%llu", (unsigned long long)value);
	rpc_reply_add_string(name, text);
}

void rpc_add_speed(const char *name, double value)
{
	char text[RPC_TEXT_SIZE];

	memset(text, 0, sizeof(text));
	snprintf(text, sizeof(text), "%.2lf", value);
	rpc_reply_add_string(name, text);
}

int ubus_test(struct ubus_context *ctx, struct ubus_object *obj,
	      struct ubus_request_data *req, const char *method,
	      struct blob_attr *msg)
{
	int status;

	rpc_reply_init();
	rpc_reply_add_u32("error_code", 0);
	status = rpc_reply_send(ctx, req);
	log_debug("Just a test ...\n");
	return status;
}

/* Slots that matter in a wireless mode, in the order they are listed. */
static void rpc_fill_list(struct json_object *array, int wlan)
{
	const int slots[] = { SLOT_LAN_A, SLOT_LAN_B, SLOT_WIRED_SUM, wlan, SLOT_BRIDGE };

	for (size_t i = 0; i < RPC_COUNT(slots); i++)
		json_object_array_add(array, json_object_new_int(slots[i]));
}

int ubus_get_interface_list(struct ubus_context *ctx, struct ubus_object *obj,
			    struct ubus_request_data *req, const char *method,
			    struct blob_attr *msg)
{
	struct json_object *array = json_object_new_array();
	int wlan, status;

	if (!array) {
		log_error("Allocate array object failed\n");
	} else {
		wlan = configured_wlan_slot(__func__);
		if (wlan >= 0)
			rpc_fill_list(array, wlan);
	}

	rpc_reply_init();
	if (array)
		rpc_reply_add_json("list", array);
	status = rpc_reply_send(ctx, req);
	if (array)
		json_object_put(array);
	return status;
}

int ubus_get_display_interface(struct ubus_context *ctx, struct ubus_object *obj,
			       struct ubus_request_data *req, const char *method,
			       struct blob_attr *msg)
{
	int first, second;

	/* Both from one instant: the mode check may be moving them. */
	get_display_pair(&first, &second);
	rpc_reply_init();
	rpc_reply_add_u32("interface1", (uint32_t)first);
	rpc_reply_add_u32("interface2", (uint32_t)second);
	return rpc_reply_send(ctx, req);
}

int ubus_get_throughput(struct ubus_context *ctx, struct ubus_object *obj,
			struct ubus_request_data *req, const char *method,
			struct blob_attr *msg)
{
	struct interface_info first, second;
	bool have_first, have_second;
	int slot1, slot2;

	get_display_pair(&slot1, &slot2);
	have_first = get_interface_snapshot((unsigned int)slot1, &first) == 0;
	have_second = get_interface_snapshot((unsigned int)slot2, &second) == 0;

	rpc_reply_init();
	if (have_first) {
		rpc_add_speed("interface1_tx", first.tx_speed);
		rpc_add_speed("interface1_rx", first.rx_speed);
	}
	if (have_second) {
		rpc_add_speed("interface2_tx", second.tx_speed);
		rpc_add_speed("interface2_rx", second.rx_speed);
	}
	return rpc_reply_send(ctx, req);
}

int ubus_get_lan_port_info(struct ubus_context *ctx, struct ubus_object *obj,
			   struct ubus_request_data *req, const char *method,
			   struct blob_attr *msg)
{
	struct rpc_args args;
	struct interface_info rec;
	unsigned int slot;

	rpc_reply_init();
	rpc_parse_args(msg, &args);
	if (!args.present[RPC_ARG_INTERFACE1])
		goto reply;

	slot = args.value[RPC_ARG_INTERFACE1];
	log_debug("config value: %u\n", slot);
	if (get_interface_snapshot(slot, &rec) != 0)
		goto reply;

	rpc_add_u64("tx_packets", rec.tx_packets);
	rpc_add_u64("tx_bytes", rec.tx_bytes);
	rpc_add_u64("rx_packets", rec.rx_packets);
	rpc_add_u64("rx_bytes", rec.rx_bytes);
	rpc_add_speed("tx_speed", rec.tx_speed);
	rpc_add_speed("rx_speed", rec.rx_speed);
reply:
	return rpc_reply_send(ctx, req);
}

int ubus_set_display_interface(struct ubus_context *ctx, struct ubus_object *obj,
			       struct ubus_request_data *req, const char *method,
			       struct blob_attr *msg)
{
	struct rpc_args args;

	rpc_parse_args(msg, &args);
	if (args.present[RPC_ARG_INTERFACE1])
		set_display_interface1(args.value[RPC_ARG_INTERFACE1]);
	if (args.present[RPC_ARG_INTERFACE2])
		set_display_interface2(args.value[RPC_ARG_INTERFACE2]);

	rpc_reply_init();
	rpc_reply_add_u32("error_code", 0);
	return rpc_reply_send(ctx, req);
}
