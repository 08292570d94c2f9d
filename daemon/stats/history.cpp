#include "stats/history.h"

#include <string.h>

#include "stats/interface_list.h"

/* The slots with a role, each with a history of its own; -1: none. */
static const int8_t history_index[INTERFACE_COUNT] = { 0, 1, 2, 3, -1, -1, -1, 4, -1, 5, -1, -1 };
#define HISTORY_SLOTS 6

static struct slot_history history[HISTORY_SLOTS];

/*
 * Owned by the sampler thread: the pass under way (numbered from 2, so no
 * pass follows a slot's pass 0 of never), and what the wired ports moved in it.
 */
static uint32_t pass_number = 1;
static struct timespec pass_time;
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
	pass_time = now;
	wired_moved[0] = wired_moved[1] = 0;
}

/*
 * speed in hundredths, rounded as "%.2f" rounds its exact value: to nearest,
 * ties to even. Adding and taking away 2^52 rounds the product so; only a
 * product that came out as a half needs its rounding error, which Dekker's
 * split gives exactly (the product of the high half with 100 is exact).
 */
static uint32_t hundredths(double speed)
{
	const double ROUND = 4503599627370496.0;
	double y = speed * 100.0, q, c, hi, err;

	/* Speeds are never negative; far beyond any link, or not a number, is the cap. */
	if (!(y < (double)INT32_MAX))
		return INT32_MAX;
	q = (y + ROUND) - ROUND;
	if (y - q == 0.5 || q - y == 0.5) {
		c = speed * 134217729.0;
		hi = c - (c - speed);
		err = (hi * 100.0 - y) + (speed - hi) * 100.0;
		if (err != 0.0)
			q = err > 0.0 ? y + 0.5 : y - 0.5;
	}
	return (uint32_t)(int32_t)q;
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
		uint64_t b = moved[i] >> 40 ? BYTES_MAX : moved[i];

		d->bytes_lo[pos][i] = (uint32_t)b;
		d->bytes_hi[pos][i] = (uint8_t)(b >> 32);
	}
	ring_advance(&d->fill, HISTORY_DAY);
}

/*
 * The open interval is over, a sample of a later one has come: keep it,
 * after an empty entry for each interval in which the slot took no sample. The interval the slot's first
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

/* The interval of the pass's time is open: the one before, if any, is over. */
static void day_open(struct history_day *d)
{
	uint32_t interval = (uint32_t)pass_time.tv_sec / HISTORY_INTERVAL;

	if (!d->first) {
		d->first = interval + 1;
		d->open = interval;
	} else if (interval > d->open) {
		day_close(d);
		d->open = interval;
		d->moved[0] = d->moved[1] = 0;
	}
}

void history_sample(const struct interface_info *rec)
{
	struct slot_history *h = get_history_by_index((unsigned int)rec->index);
	bool follows;

	if (!h)
		return;
	follows = h->pass + 1 == pass_number;
	h->pass = pass_number;
	recent_add(&h->recent, rec, follows);
	day_open(&h->day);
	for (int i = 0; i < 2; i++) {
		uint64_t moved = wired_moved[i];

		if (rec->index != SLOT_WIRED_SUM) {
			/* What moved while the slot was not sampled belongs to no interval it was sampled in. */
			if (!follows)
				continue;
			moved = i ? moved_since(rec->rx_bytes, rec->last_rx_bytes)
				  : moved_since(rec->tx_bytes, rec->last_tx_bytes);
			if (rec->index == SLOT_LAN_A || rec->index == SLOT_LAN_B)
				wired_moved[i] += moved;
		}
		h->day.moved[i] += moved;
	}
}

int history_read(unsigned int slot, int range, struct timespec now, struct history_copy *out)
{
	const struct slot_history *h = get_history_by_index(slot);
	struct history_day *d = &out->u.day;
	struct timespec *newest = &out->u.recent.newest;
	bool day = range == HISTORY_RANGE_DAY;
	unsigned int len = HISTORY_RECENT;
	int32_t age;

	if (!h)
		return -1;
	out->range = range;
	interface_guard_lock(slot);
	memcpy(&out->u, day ? (const void *)&h->day : (const void *)&h->recent,
	       day ? sizeof(h->day) : sizeof(h->recent));
	interface_guard_unlock(slot);
	if (day) {
		len = HISTORY_DAY;
		age = (int32_t)((uint32_t)now.tv_sec - (d->newest + 1) * HISTORY_INTERVAL);
	} else {
		age = (int32_t)(now.tv_sec - newest->tv_sec) - (now.tv_nsec < newest->tv_nsec);
	}
	out->count = out->u.fill.count;
	out->start = (out->u.fill.next + len - out->count) % len;
	out->age = out->count && age > 0 ? (unsigned int)age : 0;
	return 0;
}

static unsigned int position(const struct history_copy *c, unsigned int i, unsigned int len)
{
	return (c->start + i) % len;
}

uint64_t history_bytes(const struct history_copy *c, int dir, unsigned int i)
{
	unsigned int pos = position(c, i, HISTORY_DAY);

	return ((uint64_t)c->u.day.bytes_hi[pos][dir] << 32) | c->u.day.bytes_lo[pos][dir];
}

double history_speed(const struct history_copy *c, int dir, unsigned int i)
{
	if (c->range != HISTORY_RANGE_DAY)
		return (int32_t)c->u.recent.speed[position(c, i, HISTORY_RECENT)][dir] / 100.0;
	/* the average over the interval: bits per second over 1024 */
	return (double)(int64_t)history_bytes(c, dir, i) * (8.0 / 1024 / HISTORY_INTERVAL);
}
