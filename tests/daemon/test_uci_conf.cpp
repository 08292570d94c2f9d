#include <gtest/gtest.h>
#include <string.h>

#include "daemon_state.h"
#include "core/log.h"
#include "ns_support.h"
#include "core/uci_conf.h"

namespace {

class UciConf : public ::testing::Test {
protected:
	void SetUp() override
	{
		REQUIRE_NAMESPACES();
		reset_daemon_state();
		write_file("/etc/config/opmode", "config op 'op'\n\toption mode 'ap'\n");
		write_file("/etc/config/lengths",
			   "config s 's'\n"
			   "\toption v63 '" + std::string(63, 'a') + "'\n"
			   "\toption v64 '" + std::string(64, 'b') + "'\n"
			   "\toption v300 '" + std::string(300, 'c') + "'\n"
			   "\tlist items 'one'\n"
			   "\tlist items 'two'\n");
		memset(value, 'Z', sizeof(value));
		value[sizeof(value) - 1] = '\0';
	}

	std::string get(const char *key, int flag, int *ret)
	{
		return without_lines(capture_stdout([&] { *ret = uci_get_conf(key, value, flag); }));
	}

	char value[128];
};

const std::string untouched(127, 'Z');

TEST_F(UciConf, Found)
{
	int ret;
	EXPECT_EQ(get("opmode.op.mode", 0, &ret), "");
	EXPECT_EQ(ret, 0);
	EXPECT_STREQ(value, "ap");
	/* the copy pads the 64-byte buffer with zeros and touches nothing past it */
	for (int i = 2; i < UCI_VALUE_SIZE; i++)
		EXPECT_EQ(value[i], 0) << i;
	EXPECT_EQ(value[UCI_VALUE_SIZE], 'Z');
}

TEST_F(UciConf, MissingPackage)
{
	int ret;
	EXPECT_EQ(get("nopkg.op.mode", 0, &ret), "[ERROR] uci_get_conf(N) : can not find uci option: nopkg\n");
	EXPECT_EQ(ret, -1);
	EXPECT_EQ(std::string(value), untouched);
}

TEST_F(UciConf, MissingSectionOrOption)
{
	int ret;
	for (const char *key : { "opmode.nosec.mode", "opmode.op.nothere" }) {
		EXPECT_EQ(get(key, 0, &ret), "[ERROR] uci_get_conf(N) : value of option: opmode is NULL\n") << key;
		EXPECT_EQ(ret, -1);
		EXPECT_EQ(std::string(value), untouched);
	}
}

TEST_F(UciConf, NullArguments)
{
	int ret = 0;
	std::string out = without_lines(capture_stdout([&] { ret = uci_get_conf(nullptr, value, 0); }));
	EXPECT_EQ(out, "[ERROR] uci_get_conf(N) : Invalid argument for uci_get_conf!\n");
	EXPECT_EQ(ret, -1);
	out = without_lines(capture_stdout([&] { ret = uci_get_conf("opmode.op.mode", nullptr, 0); }));
	EXPECT_EQ(out, "[ERROR] uci_get_conf(N) : Invalid argument for uci_get_conf!\n");
	EXPECT_EQ(ret, -1);
}

TEST_F(UciConf, LongValuesArriveTerminated)
{
	int ret;
	get("lengths.s.v63", 0, &ret);
	EXPECT_EQ(ret, 0);
	EXPECT_EQ(std::string(value), std::string(63, 'a'));

	get("lengths.s.v64", 0, &ret);
	EXPECT_EQ(ret, 0);
	EXPECT_EQ(std::string(value), std::string(63, 'b'));
	EXPECT_EQ(value[UCI_VALUE_SIZE], 'Z');

	get("lengths.s.v300", 0, &ret);
	EXPECT_EQ(ret, 0);
	EXPECT_EQ(std::string(value), std::string(63, 'c'));
	EXPECT_EQ(value[UCI_VALUE_SIZE], 'Z');
}

TEST_F(UciConf, ListOptionIsNotAString)
{
	int ret;
	EXPECT_EQ(get("lengths.s.items", 0, &ret), "[ERROR] uci_get_conf(N) : value of option: lengths is NULL\n");
	EXPECT_EQ(ret, -1);
	EXPECT_EQ(std::string(value), untouched);
}

TEST_F(UciConf, FlagOneReadsStateStore)
{
	write_file("/var/state/opmode", "config op 'op'\n\toption mode 'client'\n");
	int ret;
	get("opmode.op.mode", 1, &ret);
	EXPECT_EQ(ret, 0);
	EXPECT_STREQ(value, "client");
	for (int flag : { 0, 2, -1 }) {
		get("opmode.op.mode", flag, &ret);
		EXPECT_EQ(ret, 0);
		EXPECT_STREQ(value, "ap") << flag;
	}
}

TEST_F(UciConf, SetSavesAndCommits)
{
	int ret = -1;
	std::string out = capture_stdout([&] { ret = uci_set_conf("opmode.op.mode", "wds", 0); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(ret, 0);
	EXPECT_NE(read_file("/etc/config/opmode").find("'wds'"), std::string::npos);
	get("opmode.op.mode", 0, &ret);
	EXPECT_STREQ(value, "wds");

	/* a new option in an existing section */
	EXPECT_EQ(uci_set_conf("opmode.op.band", "5g", 0), 0);
	get("opmode.op.band", 0, &ret);
	EXPECT_STREQ(value, "5g");
}

TEST_F(UciConf, SetIntoStateStore)
{
	write_file("/var/state/opmode", "config op 'op'\n\toption mode 'client'\n");
	EXPECT_EQ(uci_set_conf("opmode.op.mode", "wds", 1), 0);
	EXPECT_NE(read_file("/var/state/opmode").find("'wds'"), std::string::npos);
	EXPECT_NE(read_file("/etc/config/opmode").find("'ap'"), std::string::npos);
}

TEST_F(UciConf, SetCutsAssignmentTo255)
{
	/* "lengths.s.long=" is 15 characters: 240 of the 300 survive */
	std::string big(300, 'x');
	EXPECT_EQ(uci_set_conf("lengths.s.long", big.c_str(), 0), 0);
	std::string text = read_file("/etc/config/lengths");
	EXPECT_NE(text.find("'" + std::string(240, 'x') + "'"), std::string::npos) << text;
	EXPECT_EQ(text.find(std::string(241, 'x')), std::string::npos);
}

TEST_F(UciConf, SetFailures)
{
	int ret = 0;
	std::string out = without_lines(capture_stdout([&] { ret = uci_set_conf(nullptr, "x", 0); }));
	EXPECT_EQ(out, "[ERROR] uci_set_conf(N) : Invalid argument for uci_set_conf!\n");
	EXPECT_EQ(ret, -1);

	out = without_lines(capture_stdout([&] { ret = uci_set_conf("nopkg.a.b", "x", 0); }));
	EXPECT_EQ(out, "[ERROR] uci_set_conf(N) : can not find uci option: nopkg\n");
	EXPECT_EQ(ret, -1);

	/* the section is missing: the library refuses the set */
	out = without_lines(capture_stdout([&] { ret = uci_set_conf("opmode.nosec.mode", "x", 0); }));
	EXPECT_EQ(out, "[ERROR] uci_set_conf(N) : set uci failed: opmode\n");
	EXPECT_EQ(ret, -1);
}

} // namespace
