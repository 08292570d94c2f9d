#include "stats/switch_stat.h"

#include <net/if.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/uci_conf.h"

int8_t l_ppmap[4];
struct port_stat switch_stat_data[SWITCH_PORT_COUNT];

void switch_stat_init(void)
{
	for (int i = 0; i < 2; i++) {
		char key[64];
		char value[UCI_VALUE_SIZE];

		memset(value, 0, sizeof(value));
		snprintf(key, sizeof(key), "%s%d", "phy_map.map.lan", i);
		if (uci_get_conf(key, value, 0) != 0)
			continue;
		l_ppmap[2 * i] = (int8_t)i;
		/* Only the low byte counts: 300 is port 44, 200 is port -56. */
		l_ppmap[2 * i + 1] = (int8_t)(uint8_t)((unsigned int)atoi(value) & 0xffu);
	}
	memset(switch_stat_data, 0, sizeof(switch_stat_data));
}

static uint32_t word_at(const unsigned char *block, int offset)
{
	uint32_t w;

	memcpy(&w, block + offset, sizeof(w));
	return w;
}

static uint64_t byte_count(const unsigned char *block, int hi)
{
	return ((uint64_t)word_at(block, hi) << 32) + word_at(block, hi + 4);
}

static uint32_t packet_count(const unsigned char *block, int first)
{
	uint32_t sum = 0;

	for (int i = 0; i < PORT_REQ_PKT_WORDS; i++)
		sum += word_at(block, first + 4 * i);
	return sum;
}

static void add_reply(struct port_stat *st, const unsigned char *block)
{
	st->tx_bytes += byte_count(block, PORT_REQ_TX_BYTES_HI);
	st->tx_packets += packet_count(block, PORT_REQ_TX_PKT);
	st->rx_bytes += byte_count(block, PORT_REQ_RX_BYTES_HI);
	st->rx_packets += packet_count(block, PORT_REQ_RX_PKT);
}

static void fill_request(struct ifreq *ifr, unsigned char *block, const char *ifname, int port)
{
	uint32_t cmd = SWITCH_STAT_CMD;
	uint16_t port16 = (uint16_t)port;

	memset(ifr, 0, sizeof(*ifr));
	memset(block, 0, PORT_REQ_SIZE);
	strncpy((char *)block + PORT_REQ_IFNAME, ifname, PORT_REQ_IFNAME_LEN);
	strncpy(ifr->ifr_name, ifname, sizeof(ifr->ifr_name));
	memcpy(block + PORT_REQ_PORT, &port16, sizeof(port16));
	ifr->ifr_data = (char *)block;
	memcpy(block + PORT_REQ_CMD, &cmd, sizeof(cmd));
}

struct port_stat *get_curr_port_stat_data(const char *ifname, int port)
{
	unsigned char block[PORT_REQ_SIZE];
	struct ifreq ifr;
	int fd;

	if (!ifname || port < 0 || port >= SWITCH_PORT_COUNT) {
		perror("get_curr_port_stat_data: Invalid argument!\n");
		return NULL;
	}
	fd = socket(AF_INET, SOCK_DGRAM, 0);
	if (fd < 0) {
		perror("Create ioctl socket failed!\n");
		return &switch_stat_data[port];
	}
	fill_request(&ifr, block, ifname, port);
	if (ioctl(fd, SWITCH_STAT_IOCTL, &ifr) < 0)
		printf("do eth ioctl failed: ifname = %s, port no = %d\n", ifname, port);
	else
		add_reply(&switch_stat_data[port], block);
	close(fd);
	return &switch_stat_data[port];
}
