#include "stats/dev_stat.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "stats/dev_line_scan.h"
#include "core/log.h"
#include "stats/history.h"
#include "stats/switch_stat.h"

/* Speeds are in units of 1024 bits per second: bits per millisecond / 1.024. */
static const double KBIT_PER_MS = 1.024;

/*
 * The target computes in 32-bit registers; do the same here with unsigned
 * arithmetic so wrap-around is defined, then read the result as signed.
 */
int32_t timeval_diff(struct timeval now, struct timeval prev)
{
	uint32_t sec = (uint32_t)now.tv_sec - (uint32_t)prev.tv_sec;
	int32_t usec = (int32_t)((uint32_t)now.tv_usec - (uint32_t)prev.tv_usec);

	return (int32_t)(sec * 1000u + (uint32_t)(usec / 1000));
}

static struct timeval to_timeval(struct timespec ts)
{
	struct timeval tv;

	tv.tv_sec = ts.tv_sec;
	tv.tv_usec = ts.tv_nsec / 1000;
	return tv;
}

static void derive_speeds(struct interface_info *rec)
{
	int32_t elapsed;
	uint64_t tx_bits, rx_bits;

	if (rec->last_tx_bytes == 0 && rec->last_rx_bytes == 0)
		return;
	elapsed = timeval_diff(rec->curr_time, rec->last_time);
	if (elapsed <= 0)
		return;
	tx_bits = (rec->tx_bytes - rec->last_tx_bytes) * 8;
	rx_bits = (rec->rx_bytes - rec->last_rx_bytes) * 8;
	/* A counter that went down was reset: keep the last speeds. */
	if ((int64_t)tx_bits < 0 || (int64_t)rx_bits < 0)
		return;
	rec->tx_speed = ((double)(int64_t)tx_bits / KBIT_PER_MS) / (double)elapsed;
	rec->rx_speed = ((double)(int64_t)rx_bits / KBIT_PER_MS) / (double)elapsed;
}

/*
 * Worked out on a copy and stored in one step: the sampler is the only
 * writer of the figures, so the copy cannot go stale meanwhile.
 */
void update_interface_stat(struct interface_info *slot, uint64_t tx_bytes, uint64_t rx_bytes,
			   uint64_t tx_packets, uint64_t rx_packets, struct timespec now)
{
	struct interface_info rec;

	if (get_interface_snapshot((unsigned int)slot->index, &rec) != 0)
		return;
	rec.last_tx_bytes = rec.tx_bytes;
	rec.last_rx_bytes = rec.rx_bytes;
	rec.last_time = rec.curr_time;
	rec.tx_bytes = tx_bytes;
	rec.rx_bytes = rx_bytes;
	rec.tx_packets = tx_packets;
	rec.rx_packets = rx_packets;
	rec.curr_time = to_timeval(now);
	derive_speeds(&rec);
	interface_store_counters(slot, &rec);
}

void parse_dev_stat_line(const char *line, struct timespec now)
{
	struct dev_line v;
	struct interface_info *slot;

	memset(&v, 0, sizeof(v));
	if (scan_dev_line(line, &v) < 5) {
		log_error("Parse data from proc file failed\n");
		return;
	}
	/* Drop the colon that ends the name in this file, whatever the last character is. */
	v.name[strlen(v.name) - 1] = '\0';
	slot = get_interface_by_name(v.name);
	if (!slot || !slot->enable)
		return;
	update_interface_stat(slot, v.tx_bytes, v.rx_bytes, v.tx_packets, v.rx_packets, now);
}

/* A port outside the switch has no counters: pass over that pair only. */
static bool update_wired_pair(int pair, struct timespec now)
{
	struct port_stat *st = get_curr_port_stat_data(SWITCH_STAT_IFNAME, l_ppmap[2 * pair + 1]);
	struct interface_info *slot;
	char name[IFNAME_SIZE];

	if (!st)
		return true;
	lan_slot_name(l_ppmap[2 * pair], name, sizeof(name));
	slot = get_interface_by_name(name);
	if (!slot || !slot->enable)
		return false;
	update_interface_stat(slot, st->tx_bytes, st->rx_bytes, st->tx_packets, st->rx_packets, now);
	return true;
}

void update_wired_data(struct timespec now)
{
	struct interface_info *lan0, *lan1, *total;

	/* A missing or disabled wired slot ends the loop: the pair after it is not read. */
	for (int i = 0; i < 2; i++) {
		if (!update_wired_pair(i, now))
			break;
	}

	lan0 = get_interface_by_index(SLOT_LAN_A);
	lan1 = get_interface_by_index(SLOT_LAN_B);
	total = get_interface_by_index(SLOT_WIRED_SUM);
	if (!lan0 || !lan1 || !total) {
		log_error("Get interface failed\n");
		return;
	}
	interface_set_wired_sum(lan0->tx_speed + lan1->tx_speed, lan0->rx_speed + lan1->rx_speed);
}

/*
 * Hands out the file line by line as fgets with a DEV_LINE_MAX + 1 byte
 * buffer would, longer lines in pieces, without a heap-allocated stream.
 */
struct line_reader {
	int fd;
	size_t pos;
	size_t len;
	char buf[4096];
};

static bool fill(struct line_reader *r)
{
	ssize_t n;

	do
		n = read(r->fd, r->buf, sizeof(r->buf));
	while (n < 0 && errno == EINTR);
	r->pos = 0;
	r->len = n > 0 ? (size_t)n : 0;
	return r->len > 0;
}

/* Returns false at the end of the file when nothing was read. */
static bool read_line(struct line_reader *r, char *line, size_t size)
{
	size_t n = 0;

	while (n + 1 < size) {
		const char *src, *nl;
		size_t take;

		if (r->pos == r->len && !fill(r))
			break;
		src = r->buf + r->pos;
		take = r->len - r->pos;
		if (take > size - 1 - n)
			take = size - 1 - n;
		nl = (const char *)memchr(src, '\n', take);
		if (nl)
			take = (size_t)(nl - src) + 1;
		memcpy(line + n, src, take);
		n += take;
		r->pos += take;
		if (nl)
			break;
	}
	line[n] = '\0';
	return n > 0;
}

void parse_dev_proc(void)
{
	struct line_reader r;
	struct timespec now;
	char line[DEV_LINE_MAX + 1];

	r.fd = open(DEV_STAT_PATH, O_RDONLY | O_CLOEXEC);
	if (r.fd < 0) {
		log_error("open dev stat file failed\n");
		return;
	}
	r.pos = r.len = 0;
	clock_gettime(CLOCK_MONOTONIC, &now);
	history_pass(now);

	/* Two header lines. */
	read_line(&r, line, sizeof(line));
	read_line(&r, line, sizeof(line));
	while (read_line(&r, line, sizeof(line)))
		parse_dev_stat_line(line, now);

	update_wired_data(now);
	close(r.fd);
}
