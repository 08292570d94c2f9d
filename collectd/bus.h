/*
 * The one bus connection of veloxd-collectd and the two veloxd methods it
 * calls. The connection and veloxd's object id are kept between rounds and
 * found again only when they are lost.
 */
#ifndef VELOXD_COLLECTD_BUS_H
#define VELOXD_COLLECTD_BUS_H

#include <stdint.h>

struct bus_totals {
	uint64_t rx_bytes;
	uint64_t tx_bytes;
	uint64_t rx_packets;
	uint64_t tx_packets;
};

/* Where veloxd's bus is, as veloxd looks for it. */
#define BUS_SOCKET "/var/run/ubus.sock"

/*
 * Connects and finds veloxd when needed; a ubus status (0: ready). A null
 * path is veloxd's: BUS_SOCKET, else the library's default.
 */
int bus_ready(const char *socket_path);

/* Monotonic milliseconds at which the current veloxd object was found. */
int64_t bus_veloxd_found_at(void);

/* The wireless slot that veloxd lists for its mode, or -1 when it lists none. */
int bus_wireless_slot(int *slot);

/* The four totals of one slot; UBUS_STATUS_NO_DATA when a figure is missing. */
int bus_slot_totals(int slot, struct bus_totals *out);

void bus_close(void);

int64_t bus_now_ms(void);

#endif
