/* Tests against the switch stand-in start from a fresh daemon state and a
 * stand-in with every port at its default, no failure and no request log. */
#ifndef VELOXD_TEST_SWITCH_FIXTURE_H
#define VELOXD_TEST_SWITCH_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "daemon_state.h"
#include "fixtures.h"

class SwitchSimTest : public ::testing::Test {
protected:
	static constexpr const char *kSwitchLog = "/tmp/switch.log";

	void SetUp() override
	{
		REQUIRE_NAMESPACES();
		REQUIRE_SWITCHSIM();
		reset_daemon_state();
		for (int p = 0; p < 5; p++)
			unsetenv(("SWITCHSIM_PORT" + std::to_string(p)).c_str());
		unsetenv("SWITCHSIM_FAIL");
		unsetenv("SWITCHSIM_LOG");
		unlink(kSwitchLog);
	}

	/* False when the set-up above skipped or failed the test. */
	bool set_up() const { return !IsSkipped() && !HasFatalFailure(); }

	/* From here on the stand-in logs every request to kSwitchLog. */
	static void log_requests() { setenv("SWITCHSIM_LOG", kSwitchLog, 1); }

	/* Serve port from a script of these reply lines; a fresh path each time:
	 * the stand-in starts a port afresh only when its source changes. */
	static void script(int port, const std::string &lines)
	{
		static int n;
		std::string path = "/tmp/switch-script-" + std::to_string(n++);
		write_file(path, lines);
		setenv(("SWITCHSIM_PORT" + std::to_string(port)).c_str(), ("script:" + path).c_str(), 1);
	}
};

#endif
