// The uci tool: the captured session reproduced byte for byte, errors, exit codes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "uci_test_util.h"

using namespace ucitest;

namespace {

class Cli : public ::testing::Test {
protected:
	void SetUp() override { write_file(d.conf_file("net"), kNetSample); }

	RunResult run(const std::vector<std::string> &args) { return run_uci_in(d, args); }

	void expect(const std::vector<std::string> &args, const std::string &out, int status = 0,
		    const std::string &err = "")
	{
		RunResult r = run(args);
		std::string what;
		for (const auto &a : args)
			what += a + " ";
		EXPECT_EQ(r.out, out) << what;
		EXPECT_EQ(r.err, err) << what;
		EXPECT_EQ(r.status, status) << what;
	}
	TempDir d;
};

TEST_F(Cli, ShowAndGet)
{
	expect({ "show", "net" },
	       "net.lan=interface\n"
	       "net.lan.ifname='eth0'\n"
	       "net.lan.proto='static'\n"
	       "net.lan.dns='8.8.8.8' '1.1.1.1'\n"
	       "net.wan=interface\n"
	       "net.wan.ifname='eth1'\n"
	       "net.@switch[0]=switch\n"
	       "net.@switch[0].name='switch0'\n"
	       "net.@switch[1]=switch\n"
	       "net.@switch[1].name='switch1'\n"
	       "net.@switch[1].ports='0 1 2' '3'\n");
	RunResult x = run({ "-X", "show", "net" });
	EXPECT_NE(x.out.find("\nnet.cfg033777=switch\nnet.cfg033777.name='switch0'\n"), std::string::npos);
	expect({ "show", "net.@switch[0]" }, "net.cfg033777=switch\nnet.cfg033777.name='switch0'\n");
	expect({ "show", "net.lan.dns" }, "net.lan.dns='8.8.8.8' '1.1.1.1'\n");
	expect({ "get", "net.lan.ifname" }, "eth0\n");
	expect({ "get", "net.lan" }, "interface\n");
	expect({ "get", "net" }, "");
	expect({ "get", "net.lan.dns" }, "8.8.8.8 1.1.1.1\n");
	expect({ "get", "net.@switch[1].ports" }, "'0 1 2' 3\n");
	expect({ "get", "net.@switch[-1].name" }, "switch1\n");
	expect({ "-d", ", ", "get", "net.lan.dns" }, "8.8.8.8, 1.1.1.1\n");
	expect({ "get", "net.lan.mtu" }, "", 1, "uci: Entry not found\n");
	expect({ "get", "nosuch.lan.mtu" }, "", 1, "uci: Entry not found\n");
	expect({ "get", "net.@switch[5]" }, "", 1, "uci: Entry not found\n");
	expect({ "-q", "get", "net.lan.mtu" }, "", 1);
	expect({ "get", "net.lan.ifname=x" }, "", 1);
	expect({ "show", "net.nope" }, "", 1, "uci: Entry not found\n");
}

TEST_F(Cli, Export)
{
	expect({ "export", "net" },
	       "package net\n"
	       "\n"
	       "config interface 'lan'\n"
	       "\toption ifname 'eth0'\n"
	       "\toption proto 'static'\n"
	       "\tlist dns '8.8.8.8'\n"
	       "\tlist dns '1.1.1.1'\n"
	       "\n"
	       "config interface 'wan'\n"
	       "\toption ifname 'eth1'\n"
	       "\n"
	       "config switch\n"
	       "\toption name 'switch0'\n"
	       "\n"
	       "config switch\n"
	       "\toption name 'switch1'\n"
	       "\tlist ports '0 1 2'\n"
	       "\tlist ports '3'\n"
	       "\n");
	RunResult named = run({ "-n", "export", "net" });
	EXPECT_NE(named.out.find("config switch 'cfg033777'\n"), std::string::npos);
}

TEST_F(Cli, QuotingOfListItems)
{
	expect({ "add_list", "net.lan.dns=c d'e" }, "");
	expect({ "get", "net.lan.dns" }, "8.8.8.8 1.1.1.1 'c d'\\''e'\n");
	expect({ "show", "net.lan.dns" }, "net.lan.dns='8.8.8.8' '1.1.1.1' 'c d'\\''e'\n");
}

TEST_F(Cli, EditingSessionChangesAndCommit)
{
	expect({ "set", "net.lan.ipaddr=192.168.1.1" }, "");
	expect({ "set", "net.guest=interface" }, "");
	expect({ "set", "net.lan.desc=it's" }, "");
	expect({ "add", "net", "switch" }, "cfg063777\n");
	expect({ "delete", "net.wan.ifname" }, "");
	expect({ "delete", "net.@switch[1].ports=0" }, "");
	expect({ "rename", "net.wan=wan6" }, "");
	expect({ "reorder", "net.guest=0" }, "");
	expect({ "add_list", "net.lan.dns=9.9.9.9" }, "");
	expect({ "del_list", "net.lan.dns=1.1.1.1" }, "");
	expect({ "changes", "net" },
	       "net.lan.ipaddr='192.168.1.1'\n"
	       "net.guest='interface'\n"
	       "net.lan.desc='it'\\''s'\n"
	       "net.cfg063777='switch'\n"
	       "-net.wan.ifname\n"
	       "-net.cfg043777.ports\n"
	       "net.wan='wan6'\n"
	       "net.guest='0'\n"
	       "net.lan.dns+='9.9.9.9'\n"
	       "net.lan.dns-='1.1.1.1'\n");
	expect({ "changes" }, run({ "changes", "net" }).out);
	expect({ "commit", "net" }, "");
	EXPECT_EQ(read_file(d.conf_file("net")),
		  "\nconfig interface 'guest'\n\nconfig interface 'lan'\n\toption ifname 'eth0'\n"
		  "\toption proto 'static'\n\tlist dns '8.8.8.8'\n\tlist dns '9.9.9.9'\n"
		  "\toption ipaddr '192.168.1.1'\n\toption desc 'it'\\''s'\n\nconfig interface 'wan6'\n"
		  "\nconfig switch\n\toption name 'switch0'\n\nconfig switch\n\toption name 'switch1'\n"
		  "\tlist ports '3'\n\nconfig switch\n\n");
	EXPECT_EQ(read_file(d.save_file("net")), "");
	EXPECT_TRUE(file_exists(d.save_file("net")));
	expect({ "changes", "net" }, "");
}

// A batch keeps one context: a command on a package an earlier one loaded
// works on that package, as uci-defaults scripts that delete, add and set
// in one batch rely on.
TEST_F(Cli, BatchWorksOnThePackageEarlierCommandsLoaded)
{
	RunResult r = run_uci(uci_args_in(d, { "batch" }),
			      "set net.lan.ipaddr=192.168.1.1\n"
			      "add net switch\n"
			      "set net.@switch[-1].name=switch2\n"
			      "show net.@switch[-1].name\n"
			      "changes net\n"
			      "commit\n");
	EXPECT_EQ(r.out, "cfg053777\n"
			 "net.cfg053777.name='switch2'\n"
			 "net.lan.ipaddr='192.168.1.1'\n"
			 "net.cfg053777='switch'\n"
			 "net.cfg053777.name='switch2'\n");
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	expect({ "get", "net.lan.ipaddr" }, "192.168.1.1\n");
	expect({ "get", "net.@switch[-1].name" }, "switch2\n");
	expect({ "changes" }, "");
}

TEST_F(Cli, EditErrors)
{
	expect({ "set", "net.nosec.opt=1" }, "", 1, "uci: Invalid argument\n");
	expect({ "set", "net.lan.opt" }, "", 1, "uci: Invalid argument\n");
	expect({ "set", "nopkg.lan.opt=1" }, "", 1, "uci: Entry not found\n");
	expect({ "set", "net.lan.if-name=1" }, "", 1, "uci: Parse error\n");
	expect({ "delete", "net.lan.nope" }, "", 1, "uci: Entry not found\n");
	expect({ "add", "nopkg", "switch" }, "", UCI_ERR_NOTFOUND);
	expect({ "revert", "nopkg" }, "", 1, "uci: Entry not found\n");
	EXPECT_FALSE(file_exists(d.save_file("net")));
}

TEST_F(Cli, RevertDropsSavedChanges)
{
	expect({ "set", "net.lan.ifname=eth5" }, "");
	expect({ "set", "net.wan.ifname=eth6" }, "");
	expect({ "revert", "net.lan" }, "");
	expect({ "changes", "net" }, "net.wan.ifname='eth6'\n");
	expect({ "revert", "net" }, "");
	expect({ "changes", "net" }, "");
	expect({ "get", "net.wan.ifname" }, "eth1\n");
}

TEST_F(Cli, SaveDirectoryOptions)
{
	TempDir state;
	// -P: changes go to (and are read from) the given directory; commit does nothing
	expect({ "-P", state.save(), "set", "net.lan.up=1" }, "");
	EXPECT_EQ(read_file(state.save_file("net")), "net.lan.up='1'\n");
	expect({ "-P", state.save(), "get", "net.lan.up" }, "1\n");
	expect({ "-P", state.save(), "commit", "net" }, "");
	EXPECT_EQ(read_file(d.conf_file("net")), kNetSample);
	EXPECT_EQ(read_file(state.save_file("net")), "net.lan.up='1'\n");
	// -p: a read-only overlay
	expect({ "-p", state.save(), "get", "net.lan.up" }, "1\n");
	expect({ "get", "net.lan.up" }, "", 1, "uci: Entry not found\n");
	// -t: commit works
	RunResult r = run_uci({ "-c", d.conf(), "-t", state.save(), "commit", "net" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(read_file(d.conf_file("net")).find("\toption up '1'\n"), std::string::npos);
	EXPECT_EQ(read_file(state.save_file("net")), "");
}

TEST_F(Cli, ParseErrorsAndStrictness)
{
	write_file(d.conf_file("bad"), "config a x\n\toption b 1\nfoo bar\n");
	expect({ "get", "bad.x.b" }, "", 1, "uci: Parse error (invalid command) at line 3, byte 0\n");
	expect({ "-q", "get", "bad.x.b" }, "", 1);
	expect({ "-S", "get", "bad.x.b" }, "1\n", 0, "Parse error (invalid command) at line 3, byte 0\n");
	RunResult r = run_uci({ "-c", d.conf(), "get", "net.lan.ifname" });
	EXPECT_EQ(r.out, "eth0\n");
}

TEST_F(Cli, UsageAndExitCodes)
{
	RunResult none = run({});
	EXPECT_EQ(none.status, 0);
	EXPECT_NE(none.err.find("Usage: uci"), std::string::npos);
	EXPECT_EQ(run({ "frobnicate" }).status, 255);
	EXPECT_EQ(run({ "get" }).status, 255);
	EXPECT_EQ(run({ "get", "a", "b" }).status, 255);
	EXPECT_EQ(run({ "add", "net" }).status, 255);
	EXPECT_EQ(run({ "-Z", "show" }).status, 255);
}

TEST_F(Cli, WholeStoreCommands)
{
	write_file(d.conf_file("aa"), "config t x\n\toption o 1\n");
	write_file(d.conf_file(".hidden"), "config t x\n");
	mkdir(d.conf_file("subdir").c_str(), 0755);
	RunResult r = run({ "show" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.substr(0, 20), "aa.x=t\naa.x.o='1'\nne");
	expect({ "set", "aa.x.o=2" }, "");
	expect({ "set", "net.lan.ifname=eth3" }, "");
	expect({ "changes" }, "aa.x.o='2'\nnet.lan.ifname='eth3'\n");
	expect({ "commit" }, "");
	expect({ "changes" }, "");
	EXPECT_EQ(read_file(d.conf_file("aa")), "\nconfig t 'x'\n\toption o '2'\n\n");
}

// One package that does not parse is reported; the others are still listed
// and show, export and changes exit 0. A commit that fails exits 1.
TEST_F(Cli, WholeStoreCommandsPastABrokenPackage)
{
	write_file(d.conf_file("bad"), "config t x\nfoo\n");
	expect({ "set", "net.lan.ifname=eth3" }, "");
	const char *err = "uci: Parse error (invalid command) at line 2, byte 0\n";
	expect({ "changes" }, "net.lan.ifname='eth3'\n", 0, err);
	RunResult show = run({ "show" });
	EXPECT_EQ(show.status, 0);
	EXPECT_EQ(show.err, err);
	EXPECT_EQ(show.out.substr(0, 14), "net.lan=interf");
	RunResult exp = run({ "export" });
	EXPECT_EQ(exp.status, 0);
	EXPECT_EQ(exp.out.substr(0, 13), "package net\n\n");
	expect({ "commit" }, "", 1, err);
	EXPECT_NE(read_file(d.conf_file("net")).find("option ifname 'eth3'"), std::string::npos);
}

TEST_F(Cli, ImportWritesPackage)
{
	RunResult r = run_uci({ "-c", d.conf(), "-t", d.save(), "import", "fresh" }, "config t s\n\toption a 'b c'\n");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(read_file(d.conf_file("fresh")), "\nconfig t 's'\n\toption a 'b c'\n\n");
	struct stat st;
	ASSERT_EQ(stat(d.conf_file("fresh").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
