#include "feed.h"

#include <inttypes.h>
#include <stdbool.h>
#include <stdint.h>
#include <string.h>

#include <libubus.h>

#include "bus.h"

/*
 * veloxd publishes its object while its first one-second cycle may still be
 * filling the slots, and a wireless slot that the mode has just switched to
 * holds the figures of when it was last sampled: totals all zero from a
 * veloxd found less than this long ago, and a new wireless slot until this
 * long after it was first listed, are not figures to store.
 */
#define SETTLE_MS 1500

#define SLOT_LAN1 0
#define SLOT_LAN2 1
#define SLOT_BRIDGE 9

enum feed_state { FEED_OK, FEED_NO_BUS, FEED_NO_VELOXD, FEED_DENIED, FEED_FAILED, __FEED_MAX };

/* Each line reaches collectd's log at error level: one per change of state. */
static const char *const state_text[__FEED_MAX] = {
	[FEED_OK] = "reading veloxd again",
	[FEED_NO_BUS] = "values paused: no ubus at ",
	[FEED_NO_VELOXD] = "values paused: veloxd is not on the bus (or no ubus ACL shows it to this user)",
	[FEED_DENIED] = "values paused: the bus refused the calls to veloxd (no ubus ACL for this user?)",
	[FEED_FAILED] = "values paused: a call to veloxd failed",
};

static enum feed_state last_state = FEED_OK;

static void set_state(enum feed_state state, const char *socket_path)
{
	if (state == last_state)
		return;
	last_state = state;
	fprintf(stderr, "veloxd-collectd: %s%s\n", state_text[state],
		state != FEED_NO_BUS ? "" : socket_path ? socket_path : BUS_SOCKET);
}

static enum feed_state state_of(int status)
{
	switch (status) {
	case UBUS_STATUS_OK:
		return FEED_OK;
	case UBUS_STATUS_CONNECTION_FAILED:
		return FEED_NO_BUS;
	case UBUS_STATUS_NOT_FOUND:
		return FEED_NO_VELOXD;
	case UBUS_STATUS_PERMISSION_DENIED:
		return FEED_DENIED;
	default:
		return FEED_FAILED;
	}
}

/* rx first: the order of the data sources of if_octets and if_packets. */
static void put_totals(FILE *out, const char *host, const char *instance, const char *type_instance,
		       const struct bus_totals *t)
{
	const char *dash = type_instance[0] ? "-" : "";

	fprintf(out, "PUTVAL \"%s/veloxd-%s/if_octets%s%s\" N:%" PRIu64 ":%" PRIu64 "\n",
		host, instance, dash, type_instance, t->rx_bytes, t->tx_bytes);
	fprintf(out, "PUTVAL \"%s/veloxd-%s/if_packets%s%s\" N:%" PRIu64 ":%" PRIu64 "\n",
		host, instance, dash, type_instance, t->rx_packets, t->tx_packets);
}

/* veloxd's wired total carries speeds only: its totals are the two ports' sums. */
static struct bus_totals wired_sum(const struct bus_totals *a, const struct bus_totals *b)
{
	struct bus_totals s = {
		a->rx_bytes + b->rx_bytes, a->tx_bytes + b->tx_bytes,
		a->rx_packets + b->rx_packets, a->tx_packets + b->tx_packets,
	};
	return s;
}

/* The wireless slots are two interfaces with totals of their own: two series. */
static const char *wireless_name(int slot)
{
	return slot == 3 ? "ap" : "client";
}

struct reading {
	int have;
	struct bus_totals t;
};

struct round {
	struct reading lan1, lan2, bridge, wlan;
	int wlan_slot;
};

static int read_slot(int slot, struct reading *r)
{
	int ret = bus_slot_totals(slot, &r->t);

	r->have = ret == UBUS_STATUS_OK;
	return ret;
}

static int read_round(struct round *r)
{
	int ret;

	memset(r, 0, sizeof(*r));
	ret = bus_wireless_slot(&r->wlan_slot);
	if (ret == UBUS_STATUS_OK)
		ret = read_slot(SLOT_LAN1, &r->lan1);
	if (ret == UBUS_STATUS_OK)
		ret = read_slot(SLOT_LAN2, &r->lan2);
	if (ret == UBUS_STATUS_OK)
		ret = read_slot(SLOT_BRIDGE, &r->bridge);
	if (ret == UBUS_STATUS_OK && r->wlan_slot >= 0)
		ret = read_slot(r->wlan_slot, &r->wlan);
	return ret;
}

/* veloxd gone since the last round may be back already under a new id. */
static int read_veloxd(const char *socket_path, struct round *r)
{
	int ret = bus_ready(socket_path);

	if (ret != UBUS_STATUS_OK)
		return ret;
	ret = read_round(r);
	if (ret != UBUS_STATUS_NOT_FOUND)
		return ret;
	ret = bus_ready(socket_path);
	return ret == UBUS_STATUS_OK ? read_round(r) : ret;
}

static int unfilled(const struct reading *r, int fresh)
{
	const struct bus_totals *t = &r->t;

	return !r->have || (fresh && !t->rx_bytes && !t->tx_bytes && !t->rx_packets && !t->tx_packets);
}

int feed_round(const struct feed_conf *conf, FILE *out)
{
	static int wlan_slot = -1;
	static int64_t wlan_since;
	struct round r;
	struct bus_totals wired;
	int64_t now;
	int fresh, ret;

	ret = read_veloxd(conf->socket_path, &r);
	set_state(state_of(ret), conf->socket_path);
	if (ret != UBUS_STATUS_OK)
		return 0;

	now = bus_now_ms();
	if (r.wlan_slot != wlan_slot) {
		wlan_slot = r.wlan_slot;
		wlan_since = now;
	}
	fresh = now - bus_veloxd_found_at() < SETTLE_MS;
	if (!unfilled(&r.lan1, fresh))
		put_totals(out, conf->host, "lan1", "", &r.lan1.t);
	if (!unfilled(&r.lan2, fresh))
		put_totals(out, conf->host, "lan2", "", &r.lan2.t);
	if (!unfilled(&r.lan1, fresh) && !unfilled(&r.lan2, fresh)) {
		wired = wired_sum(&r.lan1.t, &r.lan2.t);
		put_totals(out, conf->host, "wired", "", &wired);
	}
	if (wlan_slot >= 0 && now - wlan_since >= SETTLE_MS && !unfilled(&r.wlan, fresh))
		put_totals(out, conf->host, "wlan", wireless_name(wlan_slot), &r.wlan.t);
	if (!unfilled(&r.bridge, fresh))
		put_totals(out, conf->host, "bridge", "", &r.bridge.t);
	return fflush(out) == 0 && !ferror(out) ? 0 : -1;
}
