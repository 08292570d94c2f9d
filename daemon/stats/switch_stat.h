#ifndef VELOXD_SWITCH_STAT_H
#define VELOXD_SWITCH_STAT_H

#include <stdint.h>

#define SWITCH_PORT_COUNT 5

/* The Ethernet driver's private request for one switch port's counters. */
#define SWITCH_STAT_IOCTL 0x89F6 /* SIOCDEVPRIVATE + 6 */
#define SWITCH_STAT_CMD 0x89F30005u
#define SWITCH_STAT_IFNAME "eth1"

/* Byte offsets inside the request block; every word is in host byte order. */
#define PORT_REQ_SIZE 364
#define PORT_REQ_CMD 0
#define PORT_REQ_IFNAME 4
#define PORT_REQ_IFNAME_LEN 16
#define PORT_REQ_PORT 22
#define PORT_REQ_RX_PKT 72 /* six words */
#define PORT_REQ_RX_BYTES_HI 104
#define PORT_REQ_RX_BYTES_LO 108
#define PORT_REQ_TX_PKT 140 /* six words */
#define PORT_REQ_TX_BYTES_HI 172
#define PORT_REQ_TX_BYTES_LO 176
#define PORT_REQ_PKT_WORDS 6

struct port_stat {
	uint64_t tx_packets;
	uint64_t rx_packets;
	uint64_t tx_bytes;
	uint64_t rx_bytes;
};

/* LAN number of pair 0, its switch port, LAN number of pair 1, its switch port. */
extern int8_t l_ppmap[4];
extern struct port_stat switch_stat_data[SWITCH_PORT_COUNT];

void switch_stat_init(void);
struct port_stat *get_curr_port_stat_data(const char *ifname, int port);

#endif
