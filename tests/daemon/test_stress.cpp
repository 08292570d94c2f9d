/*
 * Readers on another thread while the sampler updates slots: every snapshot
 * must come from one update, every history copy from one pass, and the
 * display pair must stay whole. Built
 * under ThreadSanitizer this also proves the scheme free of data races.
 */
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "daemon_state.h"
#include "stats/dev_stat.h"
#include "stats/history.h"
#include "stats/interface_list.h"

namespace {

const double TX_SPEED = (8000.0 / 1.024) / 1000.0;
const double RX_SPEED = (24000.0 / 1.024) / 1000.0;

double seconds_since(const struct timespec &t0)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return (double)(t.tv_sec - t0.tv_sec) + (double)(t.tv_nsec - t0.tv_nsec) / 1e9;
}

/*
 * write(k) for k = 1, 2, ... on a sampler thread while check() judges one
 * reading on this thread, for 1.5 s and at least min_writes writes (20 s at
 * most). Returns the readings judged; a failed one is reported, five at most.
 */
template <typename Write, typename Check>
unsigned long long race(Write write, Check check, unsigned long long min_writes)
{
	std::atomic<bool> stop(false);
	std::atomic<unsigned long long> written(0);
	std::thread sampler([&] {
		for (unsigned long long k = 1; !stop.load(); k++) {
			write(k);
			written.store(k);
		}
	});

	struct timespec t0;
	clock_gettime(CLOCK_MONOTONIC, &t0);
	unsigned long long reads = 0, failures = 0;
	while ((seconds_since(t0) < 1.5 || written.load() < min_writes) && seconds_since(t0) <= 20) {
		::testing::AssertionResult r = check();
		if (!r && failures++ < 5)
			ADD_FAILURE() << r.message();
		reads++;
	}
	stop.store(true);
	sampler.join();
	EXPECT_EQ(failures, 0u);
	EXPECT_GT(written.load(), 100u);
	return reads;
}

/* Update k of the writer: all fields follow from k. */
void write_update(unsigned long long k)
{
	char line[256];

	snprintf(line, sizeof(line), "  eth0: %llu %llu 0 0 0 0 0 0 %llu %llu 0 0 0 0 0 0\n",
		 3000 * k, 2 * k, 1000 * k, k);
	parse_dev_stat_line(line, at((long)k));
}

::testing::AssertionResult consistent(const struct interface_info &s)
{
	unsigned long long k = s.tx_packets;

	if (s.tx_bytes != 1000 * k || s.rx_bytes != 3000 * k || s.rx_packets != 2 * k ||
	    s.curr_time.tv_sec != (long)k)
		return ::testing::AssertionFailure() << "totals from two updates at k=" << k;
	if (k == 0)
		return ::testing::AssertionSuccess();
	if (s.last_tx_bytes != 1000 * (k - 1) || s.last_rx_bytes != 3000 * (k - 1) ||
	    s.last_time.tv_sec != (long)(k - 1))
		return ::testing::AssertionFailure() << "previous totals torn at k=" << k;
	bool speeds_set = s.tx_speed == TX_SPEED && s.rx_speed == RX_SPEED;
	bool speeds_unset = s.tx_speed == 0.0 && s.rx_speed == 0.0 && k <= 1;
	if (!speeds_set && !speeds_unset)
		return ::testing::AssertionFailure() << "speeds torn at k=" << k;
	return ::testing::AssertionSuccess();
}

TEST(Stress, SnapshotsAreWholeUpdates)
{
	reset_daemon_state();
	strcpy(slot_at(9).ifname, "eth0");
	unsigned long long reads = race(write_update, [] {
		struct interface_info s;
		if (get_interface_snapshot(9, &s) != 0)
			return ::testing::AssertionFailure() << "no snapshot of slot 9";
		return consistent(s);
	}, 1000);
	EXPECT_GT(reads, 100u);
}

/* Pass k, 100 s after pass k - 1: the bridge moves 1000 and 3000 bytes, the wired total's speeds are k and 2 k hundredths. */
void write_pass(unsigned long long k)
{
	history_pass(at((long)(100 * k)));
	write_update(k);
	interface_set_wired_sum((double)k / 100.0, (double)k / 50.0);
}

::testing::AssertionResult whole_recent(const struct history_copy &c)
{
	const struct history_recent &r = c.u.recent;
	uint32_t newest = r.speed[(c.start + c.count - 1) % HISTORY_RECENT][0];

	if (c.count == 0)
		return ::testing::AssertionSuccess();
	if (newest != (uint32_t)r.newest.tv_sec / 100 || (c.count < HISTORY_RECENT && c.count != newest))
		return ::testing::AssertionFailure() << c.count << " entries, newest " << newest << " at "
						     << r.newest.tv_sec;
	for (unsigned int i = 0; i < c.count; i++) {
		const uint32_t *e = r.speed[(c.start + i) % HISTORY_RECENT];
		if (e[0] != newest - (c.count - 1 - i) || e[1] != 2 * e[0])
			return ::testing::AssertionFailure() << "entry " << i << " of " << c.count << ": " << e[0];
	}
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult whole_day(const struct history_copy &c)
{
	const struct history_day &d = c.u.day;

	for (unsigned int i = 0; i < c.count; i++) {
		unsigned int pos = (c.start + i) % HISTORY_DAY;
		if (d.bytes_lo[pos][0] != 3 * 1000 || d.bytes_lo[pos][1] != 3 * 3000 || d.bytes_hi[pos][0])
			return ::testing::AssertionFailure() << "interval " << i << " of " << c.count << ": "
							     << d.bytes_lo[pos][0];
	}
	return ::testing::AssertionSuccess();
}

TEST(Stress, HistoryCopiesAreWholePasses)
{
	reset_daemon_state();
	strcpy(slot_at(9).ifname, "eth0");
	unsigned long long full_days = 0;
	unsigned long long reads = race(write_pass, [&full_days] {
		static struct history_copy c;
		if (history_read(2, HISTORY_RANGE_RECENT, at(0), &c) != 0)
			return ::testing::AssertionFailure() << "no recent history of slot 2";
		::testing::AssertionResult r = whole_recent(c);
		/* read at 0 s: the open interval is left out */
		if (history_read(9, HISTORY_RANGE_DAY, at(0), &c) != 0)
			return ::testing::AssertionFailure() << "no day of slot 9";
		full_days += c.count == HISTORY_DAY;
		return r ? whole_day(c) : r;
	}, 2000);
	EXPECT_GT(reads, 100u);
	EXPECT_GT(full_days, 0u) << "the day ring never wrapped while read";
}

TEST(Stress, DisplayPairUnderTwoWriters)
{
	reset_daemon_state();
	std::atomic<bool> stop(false);

	/* the sampler's mode step moving selections between the wireless slots */
	std::thread sampler([&] {
		for (int i = 0; !stop.load(); i++) {
			if (i & 1)
				move_display_interface(7, 3);
			else
				move_display_interface(3, 7);
		}
	});

	struct timespec t0;
	clock_gettime(CLOCK_MONOTONIC, &t0);
	const unsigned int values[] = { 0, 3, 5, 7, 9, 12, 0xffffffffu };
	int bad = 0;
	for (unsigned int i = 0; seconds_since(t0) < 1.0; i++) {
		set_display_interface1(values[i % 7]);
		set_display_interface2(values[(i / 7) % 7]);
		int a, b;
		get_display_pair(&a, &b);
		if (a < 0 || a >= INTERFACE_COUNT || b < 0 || b >= INTERFACE_COUNT)
			bad++;
		/* a selection set to a slot the mode step never touches stays put */
		set_display_interface1(5);
		if (get_display_interface1() != 5)
			bad++;
	}
	stop.store(true);
	sampler.join();
	EXPECT_EQ(bad, 0);
}

} // namespace
