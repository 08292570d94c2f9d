#ifndef VELOXD_DEV_LINE_SCAN_H
#define VELOXD_DEV_LINE_SCAN_H

#include <stdint.h>

#include "stats/interface_list.h"

/*
 * The four counters of one /proc/net/dev line that the pass keeps.
 */
struct dev_line {
	char name[IFNAME_SIZE];
	uint64_t rx_bytes;
	uint64_t rx_packets;
	uint64_t tx_bytes;
	uint64_t tx_packets;
};

/*
 * Scan one line exactly as the C library's sscanf does with
 * "%s%llu%llu%*u%*u%*u%*u%*u%*u%llu%llu%*u%*u%*u%*u%*u%*u\n" in the C locale:
 * the same white space, signs ("-1" wraps to 2^64-1), overflow to 2^64-1,
 * the same fields stored and the same result, -1 for a line with no token
 * and otherwise the number of items stored (5 when all are there). Stored
 * fields are written as they are met, the others are left as they were.
 * Unlike sscanf it never writes past name: a token of IFNAME_SIZE characters
 * or more stores nothing and gives 0.
 */
int scan_dev_line(const char *line, struct dev_line *out);

#endif
