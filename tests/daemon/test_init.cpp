#include <gtest/gtest.h>

#include "daemon_state.h"
#include "fixtures.h"
#include "stats/interface_list.h"
#include "stats/switch_stat.h"

namespace {

class Init : public ::testing::Test {
protected:
	void SetUp() override
	{
		REQUIRE_NAMESPACES();
		reset_daemon_state();
	}
};

TEST_F(Init, NamesFromConfiguration)
{
	write_router_config();
	switch_stat_init();
	interface_list_init();
	EXPECT_STREQ(slot_at(0).ifname, "lan0");
	EXPECT_STREQ(slot_at(1).ifname, "lan1");
	EXPECT_STREQ(slot_at(2).ifname, "");
	EXPECT_STREQ(slot_at(3).ifname, "ath0");
	EXPECT_STREQ(slot_at(7).ifname, "ath7");
	EXPECT_STREQ(slot_at(9).ifname, "br-lan");
	for (int i : { 4, 5, 6, 8, 10, 11 })
		EXPECT_STREQ(slot_at(i).ifname, "") << i;
	EXPECT_EQ(get_interface_by_name(""), &slot_at(2));
}

TEST_F(Init, SecondPairMissing)
{
	write_router_config("4", "");
	std::string out = capture_stdout([] {
		switch_stat_init();
		interface_list_init();
	});
	EXPECT_NE(out.find("value of option: phy_map is NULL"), std::string::npos);
	EXPECT_EQ(l_ppmap[0], 0);
	EXPECT_EQ(l_ppmap[1], 4);
	EXPECT_EQ(l_ppmap[2], 0);
	EXPECT_EQ(l_ppmap[3], 0);
	/* slot 0 is named lan0 twice; slot 1 keeps the configured name */
	EXPECT_STREQ(slot_at(0).ifname, "lan0");
	EXPECT_STREQ(slot_at(1).ifname, "eth0.1");
}

TEST_F(Init, MissingKeysLeaveNamesEmpty)
{
	write_file("/etc/config/interface", "config names 'name'\n\toption bridge 'br-lan'\n");
	std::string out = capture_stdout([] { interface_list_init(); });
	EXPECT_STREQ(slot_at(3).ifname, "");
	EXPECT_STREQ(slot_at(7).ifname, "");
	EXPECT_STREQ(slot_at(9).ifname, "br-lan");
	EXPECT_NE(out.find("value of option: interface is NULL"), std::string::npos);
}

TEST_F(Init, ClearsCounters)
{
	write_router_config();
	slot_at(9).tx_bytes = 5;
	slot_at(9).last_rx_bytes = 6;
	slot_at(9).tx_speed = 7.0;
	slot_at(9).curr_time.tv_sec = 8;
	interface_list_init();
	EXPECT_EQ(slot_at(9).tx_bytes, 0u);
	EXPECT_EQ(slot_at(9).last_rx_bytes, 0u);
	EXPECT_EQ(slot_at(9).tx_speed, 0.0);
	EXPECT_EQ(slot_at(9).curr_time.tv_sec, 0);
}

} // namespace
