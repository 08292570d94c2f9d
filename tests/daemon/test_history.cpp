/*
 * The history rings as the sampling pass fills them: passes driven with
 * synthetic timestamps, read as a reply would read them at a chosen moment.
 */
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "daemon_state.h"
#include "stats/dev_stat.h"
#include "stats/history.h"
#include "stats/interface_list.h"

namespace {

/* One range of slot as a reply at second now (and us microseconds) shows it. */
struct history_copy reading(unsigned int slot, int range, long now, long us = 0)
{
	struct history_copy c;

	memset(&c, 0, sizeof(c));
	EXPECT_EQ(history_read(slot, range, at(now, us * 1000), &c), 0);
	return c;
}

/* Entries of one field as the reply shows them: "%.2lf" speeds, "%llu" bytes. */
std::vector<std::string> texts(const struct history_copy &c, int field)
{
	std::vector<std::string> out;
	char text[32];

	for (unsigned int i = 0; i < c.count; i++) {
		if (field >= HISTORY_TX_BYTES)
			snprintf(text, sizeof(text), "%llu", (unsigned long long)history_bytes(&c, field & 1, i));
		else
			snprintf(text, sizeof(text), "%.2lf", history_speed(&c, field & 1, i));
		out.push_back(text);
	}
	return out;
}

std::string text_of(double speed)
{
	char text[64];

	snprintf(text, sizeof(text), "%.2lf", speed);
	return text;
}

/* A counter line of /proc/net/dev for name with these byte totals. */
void kernel_line(const char *name, unsigned long long tx, unsigned long long rx, struct timespec now)
{
	char line[256];

	snprintf(line, sizeof(line), "%s: %llu 1 0 0 0 0 0 0 %llu 1 0 0 0 0 0 0\n", name, rx, tx);
	parse_dev_stat_line(line, now);
}

class History : public ::testing::Test {
protected:
	void SetUp() override
	{
		reset_daemon_state();
		strcpy(slot_at(9).ifname, "br-lan");
		strcpy(slot_at(3).ifname, "ath0");
	}

	/* One pass at second s in which the bridge's totals are tx and rx. */
	void bridge_pass(long s, unsigned long long tx, unsigned long long rx)
	{
		history_pass(at(s));
		kernel_line("br-lan", tx, rx, at(s));
	}
};

TEST_F(History, SlotsWithARoleOnly)
{
	const bool kept[INTERFACE_COUNT] = { 1, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0 };
	struct history_copy c;

	for (unsigned int i = 0; i < INTERFACE_COUNT; i++)
		EXPECT_EQ(history_read(i, HISTORY_RANGE_RECENT, at(1), &c), kept[i] ? 0 : -1) << i;
	EXPECT_EQ(history_read(12, HISTORY_RANGE_DAY, at(1), &c), -1);
	EXPECT_EQ(history_read(0xffffffffu, HISTORY_RANGE_RECENT, at(1), &c), -1);

	/* nothing sampled yet: empty, age 0 */
	for (int range : { HISTORY_RANGE_RECENT, HISTORY_RANGE_DAY }) {
		c = reading(9, range, 5000);
		EXPECT_EQ(c.count, 0u);
		EXPECT_EQ(c.age, 0u);
	}
}

TEST_F(History, RecentKeepsTheLast180OldestFirst)
{
	unsigned long long tx = 0;

	/* pass k moves 128 k bytes in 1000 ms: speed k */
	for (long k = 1; k <= 5; k++)
		bridge_pass(k, tx += 128 * k, 0);
	EXPECT_EQ(texts(reading(9, HISTORY_RANGE_RECENT, 5), HISTORY_TX_SPEED),
		  (std::vector<std::string>{ "0.00", "2.00", "3.00", "4.00", "5.00" }));

	for (long k = 6; k <= 200; k++)
		bridge_pass(k, tx += 128 * k, 0);
	struct history_copy c = reading(9, HISTORY_RANGE_RECENT, 200, 400000);
	ASSERT_EQ(c.count, 180u);
	std::vector<std::string> t = texts(c, HISTORY_TX_SPEED);
	EXPECT_EQ(t.front(), "21.00");
	EXPECT_EQ(t[100], "121.00");
	EXPECT_EQ(t.back(), "200.00");
	EXPECT_EQ(texts(c, HISTORY_RX_SPEED), std::vector<std::string>(180, "0.00"));
	EXPECT_EQ(c.age, 0u);
	EXPECT_EQ(reading(9, HISTORY_RANGE_RECENT, 203, 999999).age, 3u);
}

/* Hundredths, rounded to nearest with ties to even, as "%.2lf" rounds; capped at 2^31 - 1 of them. */
TEST_F(History, RecentTextIsThePrintfText)
{
	std::vector<double> speeds = { 0.0, 0.004999, 0.005, 0.015, 0.125, 0.375, 1.005, 2.675, 1e-300,
				       1234.565, 999999.995, 8.0 / 1.024 / 7.0, 21474836.46, 21474836.47 };
	/* halves of a hundredth and their neighbours, whose products with 100 come out as halves */
	for (double half = 0.5; half < 2e9; half = half * 3 + 0.5 + 1) {
		double x = half / 100.0;
		speeds.push_back(x);
		speeds.push_back(nextafter(x, 0.0));
		speeds.push_back(nextafter(x, 1e10));
	}
	unsigned long long r = 88172645463325252ull;
	for (int i = 0; i < 2000; i++) {
		r ^= r << 13, r ^= r >> 7, r ^= r << 17;
		speeds.push_back((double)(r >> 11) / (double)(1ull << 53) * (double)(1ull << (i % 25)));
	}
	long s = 100;
	for (double v : speeds) {
		history_pass(at(++s));
		interface_set_wired_sum(v, v / 3);
		struct history_copy c = reading(2, HISTORY_RANGE_RECENT, s);
		ASSERT_GT(c.count, 0u);
		std::vector<std::string> tx = texts(c, HISTORY_TX_SPEED), rx = texts(c, HISTORY_RX_SPEED);
		ASSERT_EQ(tx.back(), text_of(v)) << v;
		ASSERT_EQ(rx.back(), text_of(v / 3)) << v / 3;
	}
	for (double v : { 21474836.48, 1e9, 1e300 }) {
		history_pass(at(++s));
		interface_set_wired_sum(v, 0.0);
		EXPECT_EQ(texts(reading(2, HISTORY_RANGE_RECENT, s), HISTORY_TX_SPEED).back(), "21474836.47") << v;
	}
}

/*
 * Intervals are five minutes of the pass clock, [300 k, 300 k + 300) s; the
 * bytes of a pass count in the interval of its time. The interval of the
 * first sample is not whole and is not kept.
 */
TEST_F(History, DayIntervalsFollowThePassClock)
{
	unsigned long long tx = 5000, rx = 7000;

	for (long s = 1000; s < 1500; s++)
		bridge_pass(s, tx += 1000, rx += 500);
	EXPECT_EQ(reading(9, HISTORY_RANGE_DAY, 1499, 900000).count, 0u) << "the first whole interval is still open";

	for (long s = 1500; s <= 1800; s++)
		bridge_pass(s, tx += 1000, rx += 500);
	struct history_copy c = reading(9, HISTORY_RANGE_DAY, 1800, 500000);
	EXPECT_EQ(c.count, 2u);
	EXPECT_EQ(c.age, 0u);
	EXPECT_EQ(texts(c, HISTORY_TX_BYTES), (std::vector<std::string>{ "300000", "300000" }));
	EXPECT_EQ(texts(c, HISTORY_RX_BYTES), (std::vector<std::string>{ "150000", "150000" }));
	/* the average over the five minutes in 1024 bit/s: 300000 bytes * 8 / 1024 / 300 s */
	EXPECT_EQ(texts(c, HISTORY_TX_SPEED), std::vector<std::string>(2, "7.81"));
	EXPECT_EQ(texts(c, HISTORY_RX_SPEED), std::vector<std::string>(2, "3.91"));

	/* an interval is kept at the first sample after it, however long that takes */
	c = reading(9, HISTORY_RANGE_DAY, 2159, 999999);
	EXPECT_EQ(c.count, 2u);
	EXPECT_EQ(c.age, 359u);
	bridge_pass(2160, tx += 1000, rx += 500);
	c = reading(9, HISTORY_RANGE_DAY, 2160);
	EXPECT_EQ(texts(c, HISTORY_TX_BYTES), (std::vector<std::string>{ "300000", "300000", "1000" }));
	EXPECT_EQ(c.age, 60u);
}

TEST_F(History, DayKeepsTheLast288)
{
	unsigned long long tx = 0, rx = 1;

	/* three passes an interval; each moves k bytes in interval k, so interval k holds 3 k */
	for (long s = 300; s <= 302 * 300; s += 100) {
		long k = s / 300;
		bridge_pass(s, tx += k, rx += 2 * k);
	}
	struct history_copy c = reading(9, HISTORY_RANGE_DAY, 302 * 300);
	ASSERT_EQ(c.count, 288u);
	std::vector<std::string> bytes = texts(c, HISTORY_TX_BYTES);
	EXPECT_EQ(bytes.front(), std::to_string(3 * 14));
	EXPECT_EQ(bytes[1], std::to_string(3 * 15));
	EXPECT_EQ(bytes.back(), std::to_string(3 * 301));
	EXPECT_EQ(texts(c, HISTORY_RX_BYTES).back(), std::to_string(6 * 301));
	EXPECT_EQ(texts(c, HISTORY_RX_SPEED).size(), 288u);
}

/*
 * A wireless slot switched off by the mode takes no samples: its age grows.
 * Switched on again, its recent history starts afresh, the intervals it
 * missed are empty, and what moved while it was off is counted nowhere.
 */
TEST_F(History, SwitchedOffWirelessSlot)
{
	unsigned long long tx = 0, rx = 0;

	interface_select_wlan(SLOT_WLAN_AP);
	for (long s = 1199; s <= 1800; s++) {
		history_pass(at(s));
		kernel_line("ath0", tx += 1000, rx += 10, at(s));
	}
	interface_select_wlan(SLOT_WLAN_STA);
	for (long s = 1801; s <= 2400; s++) {
		history_pass(at(s));
		kernel_line("ath0", tx += 1000, rx += 10, at(s));
	}
	struct history_copy c = reading(3, HISTORY_RANGE_RECENT, 2400, 500000);
	EXPECT_EQ(c.count, 180u);
	EXPECT_EQ(c.age, 600u);
	EXPECT_EQ(texts(c, HISTORY_TX_SPEED).back(), "7.81");
	c = reading(3, HISTORY_RANGE_DAY, 2400, 500000);
	EXPECT_EQ(c.count, 2u); /* [1200, 1500), [1500, 1800): the pass at 1800 opened the next */
	EXPECT_EQ(c.age, 600u);

	interface_select_wlan(SLOT_WLAN_AP);
	for (long s = 2401; s <= 2700; s++) {
		history_pass(at(s));
		kernel_line("ath0", tx += 1000, rx += 10, at(s));
		if (s == 2410) {
			EXPECT_EQ(reading(3, HISTORY_RANGE_RECENT, s).count, 10u);
		}
	}
	/* the first sample after the gap: the speed over the gap, no bytes */
	c = reading(3, HISTORY_RANGE_DAY, 2700, 1);
	EXPECT_EQ(texts(c, HISTORY_TX_BYTES),
		  (std::vector<std::string>{ "300000", "300000", "1000", "0", "298000" }));
	EXPECT_EQ(texts(c, HISTORY_TX_SPEED)[3], "0.00");
	EXPECT_EQ(c.age, 0u);
}

TEST_F(History, RecentStartsAfreshAfterAPassWithoutASample)
{
	unsigned long long tx = 0;

	for (long s = 10; s < 20; s++)
		bridge_pass(s, tx += 128, 0);
	history_pass(at(20)); /* the bridge's line is missing from this pass */
	bridge_pass(21, tx += 256, 0);
	struct history_copy c = reading(9, HISTORY_RANGE_RECENT, 21);
	EXPECT_EQ(texts(c, HISTORY_TX_SPEED), (std::vector<std::string>{ "1.00" }));
}

/* The wired total's speeds are the two ports' sums; its day averages what both ports moved. */
TEST_F(History, WiredTotal)
{
	unsigned long long a_tx = 0, b_rx = 0;

	for (long s = 1199; s <= 1500; s++) {
		history_pass(at(s));
		update_interface_stat(&slot_at(0), a_tx += 1000, 1, 1, 1, at(s));
		update_interface_stat(&slot_at(1), 1, b_rx += 3000, 1, 1, at(s));
		interface_set_wired_sum(slot_at(0).tx_speed + slot_at(1).tx_speed,
					slot_at(0).rx_speed + slot_at(1).rx_speed);
	}
	struct history_copy c = reading(2, HISTORY_RANGE_RECENT, 1500);
	EXPECT_EQ(texts(c, HISTORY_TX_SPEED).back(), "7.81");
	EXPECT_EQ(texts(c, HISTORY_RX_SPEED).back(), "23.44");
	c = reading(2, HISTORY_RANGE_DAY, 1500);
	ASSERT_EQ(c.count, 1u);
	EXPECT_EQ(texts(c, HISTORY_TX_SPEED), texts(reading(0, HISTORY_RANGE_DAY, 1500), HISTORY_TX_SPEED));
	EXPECT_EQ(texts(c, HISTORY_RX_SPEED), texts(reading(1, HISTORY_RANGE_DAY, 1500), HISTORY_RX_SPEED));
	EXPECT_EQ(texts(c, HISTORY_RX_SPEED).back(), "23.44");
}

/* A total that went down was reset: the speeds keep their values, its new total is what moved. */
TEST_F(History, CounterReset)
{
	bridge_pass(1199, 1000000, 0);
	bridge_pass(1200, 1001000, 0);
	bridge_pass(1201, 500, 0);
	bridge_pass(1202, 1500, 0);
	EXPECT_EQ(texts(reading(9, HISTORY_RANGE_RECENT, 1202), HISTORY_TX_SPEED),
		  (std::vector<std::string>{ "0.00", "7.81", "7.81", "7.81" }));
	bridge_pass(1500, 2500, 0);
	struct history_copy c = reading(9, HISTORY_RANGE_DAY, 1500);
	EXPECT_EQ(texts(c, HISTORY_TX_BYTES), (std::vector<std::string>{ std::to_string(1000 + 500 + 1000) }));
}

} // namespace
