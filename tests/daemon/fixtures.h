#ifndef VELOXD_TEST_FIXTURES_H
#define VELOXD_TEST_FIXTURES_H

#include <stdlib.h>
#include <string.h>

#include <string>

#include "ns_support.h"

/* The configuration of a router in "ap" mode with both LAN ports mapped. */
inline void write_router_config(const std::string &lan0 = "4", const std::string &lan1 = "3",
				const std::string &mode = "ap")
{
	write_file("/etc/config/interface",
		   "config names 'name'\n"
		   "\toption lan1 'eth0.1'\n"
		   "\toption wlan0 'ath0'\n"
		   "\toption wlan7 'ath7'\n"
		   "\toption bridge 'br-lan'\n");
	std::string map = "config map 'map'\n";
	if (!lan0.empty())
		map += "\toption lan0 '" + lan0 + "'\n";
	if (!lan1.empty())
		map += "\toption lan1 '" + lan1 + "'\n";
	write_file("/etc/config/phy_map", map);
	write_file("/etc/config/opmode", "config op 'op'\n\toption mode '" + mode + "'\n");
}

/* Tests of the switch need the stand-in preloaded; ctest does that. */
inline bool switchsim_preloaded()
{
	const char *p = getenv("LD_PRELOAD");

	return p && strstr(p, "switchsim");
}

#define REQUIRE_SWITCHSIM()                                                                \
	ASSERT_TRUE(switchsim_preloaded()) << "run under ctest, which preloads libswitchsim.so"

#endif
