#include <gtest/gtest.h>
#include <unistd.h>

#include "daemon_state.h"
#include "fixtures.h"
#include "stats/history.h"
#include "stats/interface_list.h"
#include "stats/statistic.h"

namespace {

class Sampler : public ::testing::Test {
protected:
	void SetUp() override
	{
		REQUIRE_NAMESPACES();
		reset_daemon_state();
	}

	void mode(const std::string &m)
	{
		write_file("/etc/config/opmode", "config op 'op'\n\toption mode '" + m + "'\n");
	}

	std::string check()
	{
		return without_lines(capture_stdout([] { check_wlan_mode(); }));
	}

	/* Read through snapshots: the sampler thread may be running. */
	static int enabled(unsigned int slot)
	{
		struct interface_info s;
		get_interface_snapshot(slot, &s);
		return s.enable;
	}
	bool ap_state() { return enabled(3) == 1 && enabled(7) == 0; }
	bool sta_state() { return enabled(3) == 0 && enabled(7) == 1; }
};

TEST_F(Sampler, ApMode)
{
	mode("ap");
	set_display_interface1(7);
	set_display_interface2(7);
	EXPECT_EQ(check(), "");
	EXPECT_TRUE(ap_state());
	EXPECT_EQ(get_display_interface1(), 3);
	EXPECT_EQ(get_display_interface2(), 3);

	set_display_interface1(0);
	set_display_interface2(9);
	check();
	EXPECT_EQ(get_display_interface1(), 0);
	EXPECT_EQ(get_display_interface2(), 9);
}

TEST_F(Sampler, ClientAndWdsAlike)
{
	for (const char *m : { "client", "wds" }) {
		reset_daemon_state();
		mode(m);
		EXPECT_EQ(check(), "") << m;
		EXPECT_TRUE(sta_state()) << m;
		/* defaults 0 and 3: the second follows the mode */
		EXPECT_EQ(get_display_interface1(), 0);
		EXPECT_EQ(get_display_interface2(), 7);
	}
}

TEST_F(Sampler, UnsupportedModesChangeNothing)
{
	mode("ap");
	check();
	for (const char *m : { "AP", "Client", "ap ", "a" }) {
		mode(m);
		set_display_interface2(7);
		EXPECT_EQ(check(), "[ERROR] check_wlan_mode(N) : Unsupported wlan opmode\n") << m;
		EXPECT_TRUE(ap_state()) << m;
		EXPECT_EQ(get_display_interface2(), 7);
	}
}

TEST_F(Sampler, MissingModeKey)
{
	write_file("/etc/config/opmode", "config op 'op'\n");
	EXPECT_EQ(check(), "[ERROR] uci_get_conf(N) : value of option: opmode is NULL\n"
			   "[ERROR] check_wlan_mode(N) : Unsupported wlan opmode\n");
	EXPECT_EQ(slot_at(3).enable, 0);
	EXPECT_EQ(slot_at(7).enable, 0);
}

bool wait_for(const std::function<bool()> &cond, double seconds)
{
	for (int i = 0; i < (int)(seconds * 100); i++) {
		if (cond())
			return true;
		usleep(10000);
	}
	return cond();
}

TEST_F(Sampler, ThreadFollowsTheStore)
{
	write_router_config();
	ASSERT_EQ(start_statistic(), 0);
	ASSERT_TRUE(wait_for([this] { return ap_state(); }, 2.0));

	/* a bus caller picking the disabled slot sees it moved within a cycle */
	set_display_interface1(7);
	EXPECT_TRUE(wait_for([] { return get_display_interface1() == 3; }, 1.5));

	/*
	 * The next cycle's mode check sees a change: counted in passes (the wired
	 * total's history takes one sample a pass), at most the pass under way
	 * and one more while this thread looks.
	 */
	auto passes = [] {
		static struct history_copy c;
		history_read(SLOT_WIRED_SUM, HISTORY_RANGE_RECENT, at(0), &c);
		return c.count;
	};
	unsigned int before = passes(), after = 0;
	mode("client");
	ASSERT_TRUE(wait_for([&] { after = passes(); return sta_state(); }, 10.0));
	EXPECT_LE(after - before, 2u);
	EXPECT_EQ(get_display_interface1(), 7);
	EXPECT_EQ(get_display_interface2(), 7);
}

} // namespace
