#include <gtest/gtest.h>
#include <string.h>

#include "daemon_state.h"
#include "stats/dev_stat.h"
#include "stats/interface_list.h"
#include "core/log.h"
#include "ns_support.h"

namespace {

class Pass : public ::testing::Test {
protected:
	void SetUp() override { reset_daemon_state(); }
	struct interface_info *slot = &slot_at(9);
};

struct timeval tv(long s, long us)
{
	struct timeval t;

	t.tv_sec = s;
	t.tv_usec = us;
	return t;
}

TEST(TimevalDiff, Cases)
{
	EXPECT_EQ(timeval_diff(tv(10, 100), tv(9, 999900)), 1);
	EXPECT_EQ(timeval_diff(tv(10, 500), tv(10, 0)), 0);
	EXPECT_EQ(timeval_diff(tv(10, 0), tv(9, 999999)), 1); /* the microsecond part truncates on its own */
	EXPECT_EQ(timeval_diff(tv(9, 0), tv(10, 0)), -1000);
	EXPECT_EQ(timeval_diff(tv(10, 0), tv(10, 1999)), -1);
	/* 2147484 s is past the 32-bit millisecond range: it wraps as on the target */
	EXPECT_EQ(timeval_diff(tv(2147484, 0), tv(0, 0)), -2147483296);
	EXPECT_EQ(timeval_diff(tv(0, 0), tv(2147484, 0)), 2147483296);
}

TEST_F(Pass, FirstUpdateStoresNoSpeed)
{
	update_interface_stat(slot, 500, 700, 5, 7, at(100, 123456789));
	EXPECT_EQ(slot->tx_bytes, 500u);
	EXPECT_EQ(slot->rx_bytes, 700u);
	EXPECT_EQ(slot->tx_packets, 5u);
	EXPECT_EQ(slot->rx_packets, 7u);
	EXPECT_EQ(slot->curr_time.tv_sec, 100);
	EXPECT_EQ(slot->curr_time.tv_usec, 123456);
	EXPECT_EQ(slot->tx_speed, 0.0);
	EXPECT_EQ(slot->rx_speed, 0.0);
}

TEST_F(Pass, RateRule)
{
	update_interface_stat(slot, 1000, 5000, 1, 1, at(1));
	update_interface_stat(slot, 129000, 5000, 2, 2, at(2));
	EXPECT_EQ(slot->tx_speed, 1000.0);
	EXPECT_EQ(slot->rx_speed, 0.0);
	EXPECT_EQ(slot->last_tx_bytes, 1000u);
	EXPECT_EQ(slot->last_time.tv_sec, 1);

	/* divided by 1.024 first, then by the milliseconds */
	update_interface_stat(slot, 129000 + 1000, 5000 + 3, 3, 3, at(2, 7000000));
	EXPECT_EQ(slot->tx_speed, (8000.0 / 1.024) / 7.0);
	EXPECT_EQ(slot->rx_speed, (24.0 / 1.024) / 7.0);
}

TEST_F(Pass, PreviousTotalsBothZeroGiveNoSpeed)
{
	update_interface_stat(slot, 0, 0, 0, 0, at(1));
	update_interface_stat(slot, 1024, 0, 1, 0, at(2));
	EXPECT_EQ(slot->tx_speed, 0.0);
	update_interface_stat(slot, 2048, 128, 2, 1, at(3));
	EXPECT_EQ(slot->tx_speed, 8.0);
	EXPECT_EQ(slot->rx_speed, 1.0);
}

TEST_F(Pass, PreviousReceiveAloneIsEnough)
{
	update_interface_stat(slot, 0, 128, 0, 1, at(1));
	update_interface_stat(slot, 128, 256, 1, 2, at(2));
	EXPECT_EQ(slot->tx_speed, 1.0);
	EXPECT_EQ(slot->rx_speed, 1.0);
}

TEST_F(Pass, CounterResetKeepsSpeeds)
{
	update_interface_stat(slot, 1000, 1000, 1, 1, at(1));
	update_interface_stat(slot, 129000, 1128, 2, 2, at(2));
	ASSERT_EQ(slot->tx_speed, 1000.0);
	ASSERT_EQ(slot->rx_speed, 1.0);

	update_interface_stat(slot, 10, 5000, 3, 3, at(3)); /* transmit total went down */
	EXPECT_EQ(slot->tx_bytes, 10u);
	EXPECT_EQ(slot->rx_bytes, 5000u);
	EXPECT_EQ(slot->tx_packets, 3u);
	EXPECT_EQ(slot->curr_time.tv_sec, 3);
	EXPECT_EQ(slot->tx_speed, 1000.0);
	EXPECT_EQ(slot->rx_speed, 1.0);

	update_interface_stat(slot, 138, 5000, 4, 4, at(4)); /* new base */
	EXPECT_EQ(slot->tx_speed, 1.0);
	EXPECT_EQ(slot->rx_speed, 0.0);
}

TEST_F(Pass, ZeroOrNegativeElapsedKeepsSpeeds)
{
	update_interface_stat(slot, 1000, 1000, 1, 1, at(10));
	update_interface_stat(slot, 2024, 1000, 1, 1, at(11));
	ASSERT_EQ(slot->tx_speed, 8.0);

	update_interface_stat(slot, 9000, 9000, 2, 2, at(11, 500000)); /* 0 ms */
	EXPECT_EQ(slot->tx_speed, 8.0);
	EXPECT_EQ(slot->tx_bytes, 9000u);
	update_interface_stat(slot, 99000, 99000, 3, 3, at(5)); /* clock went back */
	EXPECT_EQ(slot->tx_speed, 8.0);
	EXPECT_EQ(slot->curr_time.tv_sec, 5);
}

const char *const LINE_ETH0 = "  eth0: 100 2 0 0 0 0 0 0 300 4 0 0 0 0 0 0\n";

TEST_F(Pass, KernelLineUpdatesItsSlot)
{
	strcpy(slot->ifname, "eth0");
	std::string out = capture_stdout([] { parse_dev_stat_line(LINE_ETH0, at(1)); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(slot->rx_bytes, 100u);
	EXPECT_EQ(slot->rx_packets, 2u);
	EXPECT_EQ(slot->tx_bytes, 300u);
	EXPECT_EQ(slot->tx_packets, 4u);
}

TEST_F(Pass, MalformedLinesAreReported)
{
	strcpy(slot->ifname, "eth0");
	const char *bad[] = {
		"eth0: 100 2 0 0 0 0 0 0 300\n", /* nine numbers */
		"",
		"\n",
		" \t \n",
		"eth0: 1 2 3 x 5 6 7 8 9 10\n",
		"eth0: 1 2 3 4 5 6 7 8 - 10\n",
	};
	for (const char *line : bad) {
		std::string out = without_lines(capture_stdout([&] { parse_dev_stat_line(line, at(1)); }));
		EXPECT_EQ(out, "[ERROR] parse_dev_stat_line(N) : Parse data from proc file failed\n") << line;
	}
	EXPECT_EQ(slot->curr_time.tv_sec, 0);

	/* ten numbers are enough */
	parse_dev_stat_line("eth0: 1 2 3 4 5 6 7 8 9 10\n", at(1));
	EXPECT_EQ(slot->tx_packets, 10u);
}

TEST_F(Pass, OverlongNameFailsTheLine)
{
	std::string name(64, 'n');
	strcpy(slot->ifname, std::string(62, 'n').c_str());
	std::string line = "  " + name + ": 1 2 0 0 0 0 0 0 3 4\n";
	std::string out = capture_stdout([&] { parse_dev_stat_line(line.c_str(), at(1)); });
	EXPECT_NE(out.find("Parse data from proc file failed"), std::string::npos);
	EXPECT_EQ(slot->tx_bytes, 0u);

	/* 63 characters still fit: the colon goes, 62 remain */
	line = std::string(62, 'n') + ": 1 2 0 0 0 0 0 0 3 4\n";
	EXPECT_EQ(capture_stdout([&] { parse_dev_stat_line(line.c_str(), at(1)); }), "");
	EXPECT_EQ(slot->tx_bytes, 3u);
}

TEST_F(Pass, NameShapes)
{
	strcpy(slot_at(0).ifname, "eth");
	strcpy(slot->ifname, "eth0");
	/* no colon: the last character goes all the same */
	parse_dev_stat_line("eth0 5 6 0 0 0 0 0 0 7 8\n", at(1));
	EXPECT_EQ(slot_at(0).tx_bytes, 7u);
	EXPECT_EQ(slot->tx_bytes, 0u);

	/* eth0:123 is a token of its own and matches nothing, silently */
	std::string out = capture_stdout([] { parse_dev_stat_line("eth0:123 2 0 0 0 0 0 0 300 4 0 0 0 0 0 0\n", at(1)); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(slot->tx_bytes, 0u);
}

TEST_F(Pass, DisabledSlotUnchanged)
{
	strcpy(slot_at(3).ifname, "ath0");
	EXPECT_EQ(capture_stdout([] { parse_dev_stat_line("ath0: 1 2 0 0 0 0 0 0 3 4\n", at(1)); }), "");
	EXPECT_EQ(slot_at(3).rx_bytes, 0u);
	EXPECT_EQ(slot_at(3).curr_time.tv_sec, 0);
}

TEST_F(Pass, SignsAndOverflowAsTheCLibrary)
{
	strcpy(slot->ifname, "eth0");
	parse_dev_stat_line("eth0: -1 +2 0 0 0 0 0 0 99999999999999999999999 -0\n", at(1));
	EXPECT_EQ(slot->rx_bytes, UINT64_MAX);
	EXPECT_EQ(slot->rx_packets, 2u);
	EXPECT_EQ(slot->tx_bytes, UINT64_MAX);
	EXPECT_EQ(slot->tx_packets, 0u);
}

} // namespace
