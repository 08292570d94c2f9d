#include "bus.h"

#include <stdbool.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <libubox/blobmsg.h>
#include <libubus.h>

/* veloxd answers at once; a call still open after this is a hung daemon. */
#define CALL_TIMEOUT_MS 1000

enum { T_RX_BYTES, T_TX_BYTES, T_RX_PACKETS, T_TX_PACKETS, __T_MAX };

static const struct blobmsg_policy totals_policy[__T_MAX] = {
	[T_RX_BYTES] = { "rx_bytes", BLOBMSG_TYPE_STRING },
	[T_TX_BYTES] = { "tx_bytes", BLOBMSG_TYPE_STRING },
	[T_RX_PACKETS] = { "rx_packets", BLOBMSG_TYPE_STRING },
	[T_TX_PACKETS] = { "tx_packets", BLOBMSG_TYPE_STRING },
};

static const struct blobmsg_policy list_policy[] = {
	{ "list", BLOBMSG_TYPE_ARRAY },
};

static struct ubus_context *ctx;
static bool ctx_lost;
static bool have_veloxd;
static uint32_t veloxd_id;
static int64_t veloxd_found_at;
static struct blob_buf req;

int64_t bus_now_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void on_lost(struct ubus_context *c)
{
	(void)c;
	ctx_lost = true;
}

void bus_close(void)
{
	if (ctx)
		ubus_free(ctx);
	ctx = NULL;
	ctx_lost = false;
	have_veloxd = false;
	blob_buf_free(&req);
}

int64_t bus_veloxd_found_at(void)
{
	return veloxd_found_at;
}

/*
 * What is lost is found again next round: a restarted veloxd has a new id,
 * and a connection whose writes fail is dropped whether or not the library
 * has noticed the end of the socket.
 */
static int lost(int ret)
{
	if (ret == UBUS_STATUS_NOT_FOUND)
		have_veloxd = false;
	else if (ret == UBUS_STATUS_CONNECTION_FAILED)
		bus_close();
	return ret;
}

static int call(const char *method, struct blob_attr *args, ubus_data_handler_t cb, void *priv)
{
	return lost(ubus_invoke(ctx, veloxd_id, method, args, cb, priv, CALL_TIMEOUT_MS));
}

int bus_ready(const char *socket_path)
{
	int ret;

	if (ctx && (ctx_lost || ctx->sock.eof))
		bus_close();
	if (!ctx) {
		ctx = ubus_connect(socket_path ? socket_path : BUS_SOCKET);
		/* Firmware from 2021 on keeps the socket elsewhere: then the library knows where. */
		if (!ctx && !socket_path)
			ctx = ubus_connect(NULL);
		if (!ctx)
			return UBUS_STATUS_CONNECTION_FAILED;
		ctx->connection_lost = on_lost;
	}
	if (have_veloxd)
		return UBUS_STATUS_OK;
	ret = lost(ubus_lookup_id(ctx, "veloxd", &veloxd_id));
	if (ret != UBUS_STATUS_OK)
		return ret;
	have_veloxd = true;
	veloxd_found_at = bus_now_ms();
	return UBUS_STATUS_OK;
}

struct list_reply {
	bool seen;
	int slot;
};

/* Slot 3 is the wireless interface of mode "ap", slot 7 that of "client" and "wds". */
static void on_list(struct ubus_request *r, int type, struct blob_attr *msg)
{
	struct list_reply *lr = r->priv;
	struct blob_attr *tb[1], *cur;
	size_t rem;

	(void)type;
	blobmsg_parse(list_policy, 1, tb, blob_data(msg), blob_len(msg));
	if (!tb[0])
		return;
	lr->seen = true;
	blobmsg_for_each_attr(cur, tb[0], rem) {
		uint32_t slot;

		if (blobmsg_type(cur) != BLOBMSG_TYPE_INT32)
			continue;
		slot = blobmsg_get_u32(cur);
		if (slot == 3 || slot == 7)
			lr->slot = (int)slot;
	}
}

int bus_wireless_slot(int *slot)
{
	struct list_reply lr = { false, -1 };
	int ret = call("get_interface_list", NULL, on_list, &lr);

	if (ret != UBUS_STATUS_OK)
		return ret;
	if (!lr.seen)
		return UBUS_STATUS_NO_DATA;
	*slot = lr.slot;
	return UBUS_STATUS_OK;
}

/* A total travels as "%llu" text: all digits, nothing else. */
static bool parse_total(struct blob_attr *attr, uint64_t *out)
{
	const char *s;
	char *end;

	if (!attr)
		return false;
	s = blobmsg_get_string(attr);
	if (*s < '0' || *s > '9')
		return false;
	*out = strtoull(s, &end, 10);
	return *end == '\0';
}

struct totals_reply {
	bool ok;
	struct bus_totals *t;
};

static void on_totals(struct ubus_request *r, int type, struct blob_attr *msg)
{
	struct totals_reply *tr = r->priv;
	struct blob_attr *tb[__T_MAX];

	(void)type;
	blobmsg_parse(totals_policy, __T_MAX, tb, blob_data(msg), blob_len(msg));
	tr->ok = parse_total(tb[T_RX_BYTES], &tr->t->rx_bytes) &&
		 parse_total(tb[T_TX_BYTES], &tr->t->tx_bytes) &&
		 parse_total(tb[T_RX_PACKETS], &tr->t->rx_packets) &&
		 parse_total(tb[T_TX_PACKETS], &tr->t->tx_packets);
}

int bus_slot_totals(int slot, struct bus_totals *out)
{
	struct totals_reply tr = { false, out };
	int ret;

	blob_buf_init(&req, 0);
	blobmsg_add_u32(&req, "interface1", (uint32_t)slot);
	ret = call("get_lan_port_info", req.head, on_totals, &tr);
	if (ret != UBUS_STATUS_OK)
		return ret;
	return tr.ok ? UBUS_STATUS_OK : UBUS_STATUS_NO_DATA;
}
