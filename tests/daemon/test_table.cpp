#include <gtest/gtest.h>
#include <string.h>

#include "daemon_state.h"
#include "stats/interface_list.h"
#include "core/log.h"
#include "ns_support.h"

namespace {

class Table : public ::testing::Test {
protected:
	void SetUp() override { reset_daemon_state(); }
};

TEST_F(Table, InitialContents)
{
	const int enabled[INTERFACE_COUNT] = { 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0 };
	for (int i = 0; i < INTERFACE_COUNT; i++) {
		EXPECT_EQ(slot_at(i).index, i);
		EXPECT_EQ(slot_at(i).enable, enabled[i]) << i;
		EXPECT_STREQ(slot_at(i).ifname, "");
	}
	EXPECT_STREQ(slot_at(0).uci, "interface.name.lan1");
	EXPECT_STREQ(slot_at(1).uci, "interface.name.lan1");
	EXPECT_STREQ(slot_at(3).uci, "interface.name.wlan0");
	EXPECT_STREQ(slot_at(7).uci, "interface.name.wlan7");
	EXPECT_STREQ(slot_at(9).uci, "interface.name.bridge");
	EXPECT_EQ(get_display_interface1(), 0);
	EXPECT_EQ(get_display_interface2(), 3);
}

TEST_F(Table, IndexBoundaries)
{
	ASSERT_NE(get_interface_by_index(11), nullptr);
	EXPECT_EQ(get_interface_by_index(11)->index, 11);
	EXPECT_EQ(get_interface_by_index(0)->index, 0);
	EXPECT_EQ(get_interface_by_index(12), nullptr);
	EXPECT_EQ(get_interface_by_index((unsigned int)-1), nullptr);
}

TEST_F(Table, DisplaySetters)
{
	set_display_interface1(11); /* slot 11 is disabled: stored all the same */
	EXPECT_EQ(get_display_interface1(), 11);
	set_display_interface1(12);
	set_display_interface1((unsigned int)-1);
	EXPECT_EQ(get_display_interface1(), 11);
	EXPECT_EQ(get_display_interface2(), 3);

	set_display_interface2(5);
	set_display_interface2(0x80000000u);
	EXPECT_EQ(get_display_interface2(), 5);
	set_display_interface2(11);
	int a = -1, b = -1;
	get_display_pair(&a, &b);
	EXPECT_EQ(a, 11);
	EXPECT_EQ(b, 11);
}

TEST_F(Table, MoveDisplayTouchesOnlyTheNamedSlot)
{
	set_display_interface1(7);
	set_display_interface2(7);
	move_display_interface(7, 3);
	EXPECT_EQ(get_display_interface1(), 3);
	EXPECT_EQ(get_display_interface2(), 3);

	set_display_interface1(0);
	set_display_interface2(9);
	move_display_interface(3, 7);
	EXPECT_EQ(get_display_interface1(), 0);
	EXPECT_EQ(get_display_interface2(), 9);
}

TEST_F(Table, LookupByName)
{
	strcpy(slot_at(0).ifname, "lan0");
	strcpy(slot_at(1).ifname, "lan1");
	strcpy(slot_at(4).ifname, "dup");
	strcpy(slot_at(6).ifname, "dup");
	strcpy(slot_at(7).ifname, "wlan-sta");

	EXPECT_EQ(get_interface_by_name("wlan-sta"), &slot_at(7)); /* disabled, still found */
	EXPECT_EQ(get_interface_by_name("dup"), &slot_at(4));
	EXPECT_EQ(get_interface_by_name(""), &slot_at(2));
	EXPECT_EQ(get_interface_by_name("lan"), nullptr);
	EXPECT_EQ(get_interface_by_name("lan0 "), nullptr);
	EXPECT_EQ(get_interface_by_name(nullptr), nullptr);
}

TEST_F(Table, SnapshotCopiesOneSlot)
{
	struct interface_info copy;

	slot_at(5).tx_bytes = 123;
	slot_at(5).rx_speed = 4.5;
	ASSERT_EQ(get_interface_snapshot(5, &copy), 0);
	EXPECT_EQ(memcmp(&copy, &slot_at(5), sizeof(copy)), 0);
	EXPECT_EQ(get_interface_snapshot(12, &copy), -1);
	EXPECT_EQ(get_interface_snapshot(0, nullptr), -1);
}

TEST_F(Table, DumpAtDebugLevel)
{
	strcpy(slot_at(0).ifname, "lan0");
	strcpy(slot_at(1).ifname, "lan1");
	strcpy(slot_at(9).ifname, "br-lan");
	strcpy(slot_at(7).ifname, "ath7"); /* disabled: not shown */
	slot_at(9).tx_packets = 18446744073709551615ull;
	slot_at(9).rx_packets = 2;
	slot_at(9).tx_bytes = 3;
	slot_at(9).rx_bytes = 4;
	slot_at(9).tx_speed = 1.005;
	slot_at(9).rx_speed = 1000.0 / 3;

	set_log_level(2);
	EXPECT_EQ(capture_stdout([] { interface_list_dump(); }), "");

	set_log_level(3);
	std::string out = without_lines(capture_stdout([] { interface_list_dump(); }));
	const std::string sep = "[DEBUG] interface_list_dump(N) : " + std::string(124, '=') + ">\n\n";
	auto row = [](const char *rest) {
		return std::string("[DEBUG] interface_list_dump(N) : ") + rest + "\n\n";
	};
	EXPECT_EQ(out,
		  sep + row("index = 0, enable = 1, uci = interface.name.lan1, ifname = lan0, tx_packets = 0, rx_packets = 0, tx_bytes = 0, rx_bytess = 0, tx_speed = 0.00, rx_speed = 0.00") +
		  sep + row("index = 1, enable = 1, uci = interface.name.lan1, ifname = lan1, tx_packets = 0, rx_packets = 0, tx_bytes = 0, rx_bytess = 0, tx_speed = 0.00, rx_speed = 0.00") +
		  sep + row("index = 2, enable = 1, uci = , ifname = , tx_packets = 0, rx_packets = 0, tx_bytes = 0, rx_bytess = 0, tx_speed = 0.00, rx_speed = 0.00") +
		  sep + row("index = 9, enable = 1, uci = interface.name.bridge, ifname = br-lan, tx_packets = 18446744073709551615, rx_packets = 2, tx_bytes = 3, rx_bytess = 4, tx_speed = 1.00, rx_speed = 333.33"));
}

} // namespace

/* The sampler and "get_interface_list" both take the wireless slot from here. */
TEST_F(Table, WirelessSlotOfMode)
{
	EXPECT_EQ(wlan_slot_of_mode("ap"), 3);
	EXPECT_EQ(wlan_slot_of_mode("client"), 7);
	EXPECT_EQ(wlan_slot_of_mode("wds"), 7);
	for (const char *other : { "AP", "", "ap ", "client0", "sta" })
		EXPECT_EQ(wlan_slot_of_mode(other), -1) << other;
}
