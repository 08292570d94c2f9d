#ifndef VELOXD_HISTORY_H
#define VELOXD_HISTORY_H

/*
 * Recent history of the slots with a role (0, 1, 2, 3, 7, 9), in memory
 * only: the speeds of the last HISTORY_RECENT samples, and a day of
 * five-minute intervals with the bytes moved in each. The sampling pass
 * writes a slot's history under the slot's guard; the bus service reads a
 * copy.
 */
#include <stdint.h>
#include <sys/time.h>
#include <time.h>

#define HISTORY_RECENT 180	/* samples, one a pass */
#define HISTORY_DAY 288		/* intervals: 24 hours */
#define HISTORY_INTERVAL 300	/* seconds of the monotonic clock per interval */

enum history_range {
	HISTORY_RANGE_RECENT,
	HISTORY_RANGE_DAY,
	__HISTORY_RANGE_MAX,
};

/* The arrays of a reply, in their order; the wired total has only the speeds. */
enum history_field {
	HISTORY_TX_SPEED,
	HISTORY_RX_SPEED,
	HISTORY_TX_BYTES,
	HISTORY_RX_BYTES,
	__HISTORY_FIELD_MAX,
};

/* Both rings start with where the next entry goes and how many there are. */
struct history_fill {
	uint16_t next;
	uint16_t count;
};

/* Speeds in hundredths of 1024 bit/s: the two decimals of their text, exactly. */
struct history_recent {
	struct history_fill fill;
	struct timespec newest;	/* pass time of the newest sample */
	uint32_t speed[HISTORY_RECENT][2];
};

/*
 * Intervals are numbered by the monotonic second they start at divided by
 * HISTORY_INTERVAL. Bytes are kept in 40 bits a direction, a terabyte per
 * interval.
 */
struct history_day {
	struct history_fill fill;
	uint32_t newest;	/* number of the newest interval kept */
	uint32_t first;		/* the first interval kept: the one after the slot's first sample (0: none yet) */
	uint32_t open;		/* the interval being filled */
	uint64_t moved[2];	/* bytes moved in it so far, transmit and receive */
	uint32_t bytes_lo[HISTORY_DAY][2];
	uint8_t bytes_hi[HISTORY_DAY][2];
};

struct slot_history {
	uint32_t pass;		/* number of the pass that took the newest sample */
	struct history_recent recent;
	struct history_day day;
};

/* One range of one slot as a reply shows it: copied under the slot's guard, then completed. */
struct history_copy {
	int range;
	unsigned int count;	/* entries, oldest first */
	unsigned int start;	/* ring position of the oldest */
	unsigned int age;	/* whole seconds from the end of the newest entry to the reading */
	union {
		struct history_fill fill;
		struct history_recent recent;
		struct history_day day;
	} u;
};

#ifdef __cplusplus
struct interface_info;

/* The history of slot index, or null for a slot without a role. */
struct slot_history *get_history_by_index(unsigned int index);

/* A sampling pass begins at now: every sample it takes has this time. Sampler thread. */
void history_pass(struct timespec now);

/*
 * Record the update of slot rec that the pass just stored; the caller holds
 * the slot's guard. Its speeds go to the recent ring, the bytes it moved
 * since the slot's sample of the pass before to the interval of the pass.
 */
void history_sample(const struct interface_info *rec);

/*
 * Copy one range of one slot as a reply at now (monotonic) shows it; -1 for
 * a slot without a history. The day holds the intervals the slot's samples
 * have closed: an interval is kept at the slot's first sample after it.
 */
int history_read(unsigned int slot, int range, struct timespec now, struct history_copy *out);

/* Entry i of a copy (0 is the oldest), transmit (dir 0) or receive: speed in 1024 bit/s, the day's averages. */
double history_speed(const struct history_copy *c, int dir, unsigned int i);

/* Bytes moved in day entry i. */
uint64_t history_bytes(const struct history_copy *c, int dir, unsigned int i);
#endif

#endif
