#include <gtest/gtest.h>
#include <unistd.h>

#include "daemon_state.h"
#include "fixtures.h"
#include "stats/interface_list.h"
#include "stats/statistic.h"
#include "stats/switch_stat.h"

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

/* Sampling passes so far: each ends asking the switch for port 4 (the first
 * pair's port), which the stand-in logs. */
int passes()
{
	std::string log = read_file("/tmp/switch.log");
	int n = 0;
	for (size_t at = log.find("port=4 "); at != std::string::npos; at = log.find("\nport=4 ", at + 1))
		n++;
	return n;
}

/* n more passes have ended: the first may have read the store before what
 * was done last, the second began after it, and a pass reads the mode before
 * it samples. Given up after 15 s a pass, ten times the period. */
bool after_passes(int n)
{
	int want = passes() + n;
	return wait_for([want] { return passes() >= want; }, 15.0 * n);
}

TEST_F(Sampler, ThreadFollowsTheStore)
{
	REQUIRE_SWITCHSIM();
	write_router_config();
	setenv("SWITCHSIM_LOG", "/tmp/switch.log", 1);
	l_ppmap[1] = 4;
	l_ppmap[3] = 3;
	ASSERT_EQ(start_statistic(), 0);
	ASSERT_TRUE(wait_for([this] { return ap_state(); }, 20.0));

	/* a bus caller picking the disabled slot sees it moved by the next pass */
	set_display_interface1(7);
	ASSERT_TRUE(after_passes(2));
	EXPECT_EQ(get_display_interface1(), 3);

	mode("client");
	ASSERT_TRUE(after_passes(2));
	EXPECT_TRUE(sta_state());
	EXPECT_EQ(get_display_interface1(), 7);
	EXPECT_EQ(get_display_interface2(), 7);
}

} // namespace
