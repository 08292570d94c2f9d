#include "stats/history.h"

#include <stdio.h>
#include <string.h>

#include "stats/dev_stat.h"
#include "stats/interface_list.h"

/* The slots with a role, each with a history of its own; -1: none. */
static const int8_t history_index[INTERFACE_COUNT] = { 0, 1, 2, 3, -1, -1, -1, 4, -1, 5, -1, -1 };
#define HISTORY_SLOTS 6

static struct slot_history history[HISTORY_SLOTS];

/* Owned by the sampler thread: the pass under way, and what the wired ports moved in it. */
static uint32_t pass_number;
static struct timeval pass_time;
static uint64_t wired_moved[2];

#define BYTES_MAX ((1ull << 40) - 1)

struct slot_history *get_history_by_index(unsigned int index)
{
	if (index >= INTERFACE_COUNT || history_index[index] < 0)
		return NULL;
	return &history[history_index[index]];
}

void history_pass(struct timespec now)
{
	pass_number++;
	pass_time.tv_sec = now.tv_sec;
	pass_time.tv_usec = now.tv_nsec / 1000;
	wired_moved[0] = wired_moved[1] = 0;
}

/*
 * The exact value of speed in hundredths, rounded to nearest with ties to
 * even as "%.2f" rounds it, so the text agrees with the other methods'. In
 * integers: the mantissa times 100 fits in 64 bits.
 */
static uint32_t hundredths(double speed)
{
	uint64_t bits, n, q, rest, half;
	int shift;

	memcpy(&bits, &speed, sizeof(bits));
	shift = 1075 - (int)(bits >> 52);
	if ((bits >> 63) || shift > 60)
		return 0;	/* negative, or below 0.005 */
	if (shift <= 0)
		return UINT32_MAX;
	n = ((bits & ((1ull << 52) - 1)) | (1ull << 52)) * 100;
	q = n >> shift;
	rest = n & ((1ull << shift) - 1);
	half = 1ull << (shift - 1);
	if (rest > half || (rest == half && (q & 1)))
		q++;
	return q > UINT32_MAX ? UINT32_MAX : (uint32_t)q;
}

/* A total that went down was reset: what it counted since is its new value. */
static uint64_t moved_since(uint64_t total, uint64_t before)
{
	return total >= before ? total - before : total;
}

static void ring_advance(struct history_fill *f, unsigned int len)
{
	if (++f->next == len)
		f->next = 0;
	if (f->count < len)
		f->count++;
}

static void recent_add(struct history_recent *r, const struct interface_info *rec, bool follows)
{
	uint32_t *e = r->speed[r->fill.next];

	/* After a pass without a sample the older entries would no longer be a second apart. */
	if (!follows)
		r->fill.count = 0;
	e[0] = hundredths(rec->tx_speed);
	e[1] = hundredths(rec->rx_speed);
	ring_advance(&r->fill, HISTORY_RECENT);
	r->newest = pass_time;
}

static void day_push(struct history_day *d, const uint64_t moved[2])
{
	unsigned int pos = d->fill.next;

	for (int i = 0; i < 2; i++) {
		uint64_t b = moved[i] > BYTES_MAX ? BYTES_MAX : moved[i];

		d->bytes_lo[pos][i] = (uint32_t)b;
		d->bytes_hi[pos][i] = (uint8_t)(b >> 32);
	}
	ring_advance(&d->fill, HISTORY_DAY);
}

/*
 * The open interval is over: keep it, after an empty entry for each
 * interval in which the slot took no sample. The interval the slot's first
 * sample fell in is not whole and is not kept.
 */
static void day_close(struct history_day *d)
{
	static const uint64_t none[2] = { 0, 0 };

	if (d->open < d->first)
		return;
	if (d->fill.count) {
		uint32_t gap = d->open - d->newest - 1;

		if (gap >= HISTORY_DAY)
			d->fill.count = 0;
		else
			while (gap--)
				day_push(d, none);
	}
	day_push(d, d->moved);
	d->newest = d->open;
}

static void day_add(struct history_day *d, uint32_t interval, const uint64_t moved[2])
{
	if (!d->first) {
		d->first = interval + 1;
		d->open = interval;
	} else if (interval > d->open) {
		day_close(d);
		d->open = interval;
		d->moved[0] = d->moved[1] = 0;
	}
	d->moved[0] += moved[0];
	d->moved[1] += moved[1];
}

void history_sample(const struct interface_info *rec)
{
	struct slot_history *h = get_history_by_index((unsigned int)rec->index);
	uint64_t moved[2] = { 0, 0 };
	bool follows;

	if (!h)
		return;
	follows = h->pass != 0 && h->pass + 1 == pass_number;
	if (rec->index == SLOT_WIRED_SUM) {
		moved[0] = wired_moved[0];
		moved[1] = wired_moved[1];
	} else if (follows) {
		/* What moved while the slot was not sampled belongs to no interval it was sampled in. */
		moved[0] = moved_since(rec->tx_bytes, rec->last_tx_bytes);
		moved[1] = moved_since(rec->rx_bytes, rec->last_rx_bytes);
		if (rec->index == SLOT_LAN_A || rec->index == SLOT_LAN_B) {
			wired_moved[0] += moved[0];
			wired_moved[1] += moved[1];
		}
	}
	h->pass = pass_number;
	recent_add(&h->recent, rec, follows);
	day_add(&h->day, (uint32_t)pass_time.tv_sec / HISTORY_INTERVAL, moved);
}

void history_copy_range(const struct slot_history *h, int range, struct history_copy *out)
{
	out->range = range;
	if (range == HISTORY_RANGE_DAY)
		out->u.day = h->day;
	else
		out->u.recent = h->recent;
}

void history_finish(struct history_copy *c, struct timeval now)
{
	struct history_day *d = &c->u.day;
	unsigned int len = HISTORY_RECENT;
	int32_t age;

	if (c->range == HISTORY_RANGE_DAY) {
		len = HISTORY_DAY;
		if (d->first && d->open < (uint32_t)now.tv_sec / HISTORY_INTERVAL)
			day_close(d);
		age = (int32_t)((uint32_t)now.tv_sec - (d->newest + 1) * HISTORY_INTERVAL);
	} else {
		age = timeval_diff(now, c->u.recent.newest) / 1000;
	}
	c->count = c->u.fill.count;
	c->start = (c->u.fill.next + len - c->count) % len;
	c->age = c->count && age > 0 ? (unsigned int)age : 0;
}

int history_read(unsigned int slot, int range, struct timespec now, struct history_copy *out)
{
	struct timeval tv;

	if (get_history_snapshot(slot, range, out) != 0)
		return -1;
	tv.tv_sec = now.tv_sec;
	tv.tv_usec = now.tv_nsec / 1000;
	history_finish(out, tv);
	return 0;
}

void history_text(const struct history_copy *c, int field, unsigned int i, char *text, unsigned int size)
{
	unsigned int dir = (unsigned int)field & 1;
	unsigned int pos;
	uint64_t bytes;

	if (c->range != HISTORY_RANGE_DAY) {
		uint32_t h = c->u.recent.speed[(c->start + i) % HISTORY_RECENT][dir];

		snprintf(text, size, "%u.%02u", (unsigned int)(h / 100), (unsigned int)(h % 100));
		return;
	}
	pos = (c->start + i) % HISTORY_DAY;
	bytes = ((uint64_t)c->u.day.bytes_hi[pos][dir] << 32) | c->u.day.bytes_lo[pos][dir];
	if (field >= HISTORY_TX_BYTES)
		snprintf(text, size, "%llu", (unsigned long long)bytes);
	else	/* the average over the interval, by the rate rule of the pass */
		snprintf(text, size, "%.2lf", ((double)(int64_t)(bytes * 8) / 1.024) / (HISTORY_INTERVAL * 1000.0));
}
