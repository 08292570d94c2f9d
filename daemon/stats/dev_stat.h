#ifndef VELOXD_DEV_STAT_H
#define VELOXD_DEV_STAT_H

#include <stdint.h>
#include <sys/time.h>
#include <time.h>

#include "stats/interface_list.h"

#define DEV_STAT_PATH "/proc/net/dev"
/* Longest piece of a line handed to the line handler, without its NUL. */
#define DEV_LINE_MAX 264

/* One sampling pass over the kernel counters and the two wired ports. */
void parse_dev_proc(void);

/* Milliseconds from prev to now, in wrapping signed 32-bit arithmetic. */
int32_t timeval_diff(struct timeval now, struct timeval prev);

void parse_dev_stat_line(const char *line, struct timespec now);
void update_wired_data(struct timespec now);
void update_interface_stat(struct interface_info *slot, uint64_t tx_bytes, uint64_t rx_bytes,
			   uint64_t tx_packets, uint64_t rx_packets, struct timespec now);

#endif
