// Saving changes, commit, revert, delta replay, directories, concurrent access.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "uci_test_util.h"

using namespace ucitest;

namespace {

struct Ptr {
	struct uci_ptr p;
	std::string key;
	std::vector<char> buf;
	int rc;
	Ptr(struct uci_context *ctx, const std::string &k, bool extended = true) : key(k), buf(k.begin(), k.end())
	{
		buf.push_back(0);
		rc = uci_lookup_ptr(ctx, &p, buf.data(), extended);
	}
};

std::string get(const TempDir &d, const std::string &key)
{
	struct uci_context *ctx = context_for(d);
	Ptr q(ctx, key);
	std::string v = "<missing>";
	if (q.rc)
		v = "<error " + std::to_string(q.rc) + ">";
	else if (q.p.o && q.p.o->type == UCI_TYPE_STRING)
		v = q.p.o->v.string;
	uci_free_context(ctx);
	return v;
}

int set_and_save(struct uci_context *ctx, const std::string &kv)
{
	Ptr q(ctx, kv);
	if (q.rc)
		return q.rc;
	int r = uci_set(ctx, &q.p);
	return r ? r : uci_save(ctx, q.p.p);
}

class Store : public ::testing::Test {
protected:
	void SetUp() override { write_file(d.conf_file("net"), kNetSample); }
	TempDir d;
};

TEST_F(Store, SavedValueSeenByNewContextBeforeCommit)
{
	struct uci_context *ctx = context_for(d);
	Ptr q(ctx, "net.lan.ipaddr=10.0.0.1");
	ASSERT_EQ(q.rc, UCI_OK);
	ASSERT_EQ(uci_set(ctx, &q.p), UCI_OK);
	EXPECT_STREQ(q.p.o->v.string, "10.0.0.1");
	ASSERT_EQ(uci_save(ctx, q.p.p), UCI_OK);
	uci_free_context(ctx);

	EXPECT_EQ(read_file(d.save_file("net")), "net.lan.ipaddr='10.0.0.1'\n");
	EXPECT_EQ(read_file(d.conf_file("net")), kNetSample);
	EXPECT_EQ(get(d, "net.lan.ipaddr"), "10.0.0.1");
}

TEST_F(Store, ContextHoldingThePackageDoesNotSeeLaterSaves)
{
	struct uci_context *reader = context_for(d);
	Ptr before(reader, "net.lan.ifname");
	ASSERT_EQ(before.rc, UCI_OK);
	struct uci_context *writer = context_for(d);
	ASSERT_EQ(set_and_save(writer, "net.lan.ifname=eth7"), UCI_OK);
	Ptr after(reader, "net.lan.ifname");
	EXPECT_STREQ(after.p.o->v.string, "eth0");
	uci_free_context(writer);
	uci_free_context(reader);
	EXPECT_EQ(get(d, "net.lan.ifname"), "eth7");
}

TEST_F(Store, SetCases)
{
	struct uci_context *ctx = context_for(d);
	EXPECT_EQ(set_and_save(ctx, "net.nosec.opt=1"), UCI_ERR_INVAL);
	EXPECT_EQ(set_and_save(ctx, "net.guest=interface"), UCI_OK);
	EXPECT_EQ(set_and_save(ctx, "net.lan.desc=it's"), UCI_OK);
	EXPECT_EQ(set_and_save(ctx, "net.lan.dns=single"), UCI_OK);
	EXPECT_EQ(set_and_save(ctx, "net.lan.proto=static"), UCI_OK); // unchanged: no delta
	EXPECT_EQ(set_and_save(ctx, "net.wan.ifname="), UCI_OK);       // empty value deletes
	EXPECT_EQ(set_and_save(ctx, "net.wan.absent="), UCI_OK);
	EXPECT_EQ(set_and_save(ctx, "net.bad=a b"), UCI_ERR_INVAL);
	// a selector that found nothing would make a section no load keeps
	EXPECT_EQ(set_and_save(ctx, "net.@switch[9]=switch"), UCI_ERR_INVAL);
	{
		Ptr q(ctx, "net.lan");
		EXPECT_EQ(uci_set(ctx, &q.p), UCI_ERR_INVAL); // no value
		Ptr pk(ctx, "net=x");
		EXPECT_EQ(uci_set(ctx, &pk.p), UCI_ERR_INVAL);
	}
	uci_free_context(ctx);
	EXPECT_EQ(read_file(d.save_file("net")),
		  "net.guest='interface'\n"
		  "net.lan.desc='it'\\''s'\n"
		  "net.lan.dns='single'\n"
		  "-net.wan.ifname\n");
	ctx = context_for(d);
	Ptr q(ctx, "net.lan");
	// the list became a string in the same place; new options go last
	std::string names;
	struct uci_element *e;
	uci_foreach_element(&q.p.s->options, e) names += std::string(e->name) + ";";
	EXPECT_EQ(names, "ifname;proto;dns;desc;");
	EXPECT_STREQ(uci_lookup_option_string(ctx, q.p.s, "dns"), "single");
	EXPECT_STREQ(uci_lookup_option_string(ctx, q.p.s, "desc"), "it's");
	EXPECT_EQ(uci_lookup_option(ctx, uci_lookup_section(ctx, q.p.p, "wan"), "ifname"), nullptr);
	uci_free_context(ctx);
}

// The edits of the captured session, then commit: exact save lines, the
// changes listing, and the committed text.
TEST_F(Store, CommitMergesDeltas)
{
	struct uci_context *ctx = context_for(d);
	ASSERT_EQ(set_and_save(ctx, "net.lan.ipaddr=192.168.1.1"), UCI_OK);
	ASSERT_EQ(set_and_save(ctx, "net.guest=interface"), UCI_OK);
	ASSERT_EQ(set_and_save(ctx, "net.lan.desc=it's"), UCI_OK);
	struct uci_package *p = uci_lookup_package(ctx, "net");
	struct uci_section *s = nullptr;
	ASSERT_EQ(uci_add_section(ctx, p, "switch", &s), UCI_OK);
	EXPECT_STREQ(s->e.name, "cfg063777");
	EXPECT_TRUE(s->anonymous);
	{
		Ptr q(ctx, "net.wan.ifname");
		ASSERT_EQ(uci_delete(ctx, &q.p), UCI_OK);
		EXPECT_EQ(q.p.o, nullptr);
	}
	{
		Ptr q(ctx, "net.@switch[1].ports=0");
		ASSERT_EQ(uci_delete(ctx, &q.p), UCI_OK);
	}
	{
		Ptr q(ctx, "net.wan=wan6");
		ASSERT_EQ(uci_rename(ctx, &q.p), UCI_OK);
	}
	ASSERT_EQ(uci_reorder_section(ctx, uci_lookup_section(ctx, p, "guest"), 0), UCI_OK);
	{
		Ptr q(ctx, "net.lan.dns=9.9.9.9");
		ASSERT_EQ(uci_add_list(ctx, &q.p), UCI_OK);
	}
	{
		Ptr q(ctx, "net.lan.dns=1.1.1.1");
		ASSERT_EQ(uci_del_list(ctx, &q.p), UCI_OK);
	}
	ASSERT_EQ(uci_save(ctx, p), UCI_OK);
	uci_free_context(ctx);
	EXPECT_EQ(read_file(d.save_file("net")),
		  "net.lan.ipaddr='192.168.1.1'\n"
		  "net.guest='interface'\n"
		  "net.lan.desc='it'\\''s'\n"
		  "+net.cfg063777='switch'\n"
		  "-net.wan.ifname\n"
		  "-net.cfg043777.ports='0'\n"
		  "@net.wan='wan6'\n"
		  "^net.guest='0'\n"
		  "|net.lan.dns='9.9.9.9'\n"
		  "~net.lan.dns='1.1.1.1'\n");

	struct stat before;
	chmod(d.conf_file("net").c_str(), 0640);
	ASSERT_EQ(stat(d.conf_file("net").c_str(), &before), 0);
	ctx = context_for(d);
	Ptr q(ctx, "net");
	ASSERT_EQ(uci_commit(ctx, &q.p.p, false), UCI_OK);
	EXPECT_STREQ(q.p.p->e.name, "net");
	uci_free_context(ctx);

	EXPECT_EQ(read_file(d.conf_file("net")),
		  "\n"
		  "config interface 'guest'\n"
		  "\n"
		  "config interface 'lan'\n"
		  "\toption ifname 'eth0'\n"
		  "\toption proto 'static'\n"
		  "\tlist dns '8.8.8.8'\n"
		  "\tlist dns '9.9.9.9'\n"
		  "\toption ipaddr '192.168.1.1'\n"
		  "\toption desc 'it'\\''s'\n"
		  "\n"
		  "config interface 'wan6'\n"
		  "\n"
		  "config switch\n"
		  "\toption name 'switch0'\n"
		  "\n"
		  "config switch\n"
		  "\toption name 'switch1'\n"
		  "\tlist ports '3'\n"
		  "\n"
		  "config switch\n"
		  "\n");
	struct stat after;
	ASSERT_EQ(stat(d.save_file("net").c_str(), &after), 0);
	EXPECT_EQ(after.st_size, 0);
	ASSERT_EQ(stat(d.conf_file("net").c_str(), &after), 0);
	EXPECT_EQ(after.st_mode & 07777, 0640u);
	EXPECT_NE(after.st_ino, before.st_ino);
	EXPECT_EQ(list_dir(d.conf()).size(), 1u) << "temporary file left behind";
}

TEST_F(Store, CommitWithoutChangesLeavesFileAlone)
{
	struct stat before, after;
	ASSERT_EQ(stat(d.conf_file("net").c_str(), &before), 0);
	struct uci_context *ctx = context_for(d);
	Ptr q(ctx, "net");
	ASSERT_EQ(uci_commit(ctx, &q.p.p, false), UCI_OK);
	uci_free_context(ctx);
	ASSERT_EQ(stat(d.conf_file("net").c_str(), &after), 0);
	EXPECT_EQ(after.st_ino, before.st_ino);
	EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
	EXPECT_EQ(read_file(d.conf_file("net")), kNetSample);
}

TEST_F(Store, CommitRereadsDiskAndSavesPending)
{
	struct uci_context *ctx = context_for(d);
	Ptr q(ctx, "net.lan.ifname=eth5");
	ASSERT_EQ(uci_set(ctx, &q.p), UCI_OK);
	// another writer's saved change, not yet in this context
	struct uci_context *other = context_for(d);
	ASSERT_EQ(set_and_save(other, "net.wan.mtu=1400"), UCI_OK);
	uci_free_context(other);
	ASSERT_EQ(uci_commit(ctx, &q.p.p, false), UCI_OK);
	uci_free_context(ctx);
	EXPECT_EQ(get(d, "net.lan.ifname"), "eth5");
	EXPECT_EQ(get(d, "net.wan.mtu"), "1400");
	EXPECT_EQ(read_file(d.save_file("net")), "");
}

TEST_F(Store, CommitThroughSymlinkReplacesTarget)
{
	std::string real = d.path() + "/real-net";
	rename(d.conf_file("net").c_str(), real.c_str());
	ASSERT_EQ(symlink(real.c_str(), d.conf_file("net").c_str()), 0);
	struct uci_context *ctx = context_for(d);
	ASSERT_EQ(set_and_save(ctx, "net.lan.ifname=eth9"), UCI_OK);
	Ptr q(ctx, "net");
	ASSERT_EQ(uci_commit(ctx, &q.p.p, false), UCI_OK);
	uci_free_context(ctx);
	struct stat st;
	ASSERT_EQ(lstat(d.conf_file("net").c_str(), &st), 0);
	EXPECT_TRUE(S_ISLNK(st.st_mode));
	EXPECT_NE(read_file(real).find("option ifname 'eth9'"), std::string::npos);
}

TEST_F(Store, DeltaReplayRules)
{
	write_file(d.save_file("net"),
		   "net.lan.ifname=eth9\n"
		   "this is garbage\n"
		   "other.x.y='1'\n"
		   "net.@switch[0].name='nope'\n"
		   "-net.lan.dns\n"
		   "+net.cfg993777='switch'\n"
		   "-net.lan.missing\n"
		   "@net.wan='bad-name'\n"
		   "net.lan.multi='a\n"
		   "b'\n");
	struct uci_context *ctx = context_for(d);
	Ptr q(ctx, "net");
	ASSERT_EQ(q.rc, UCI_OK);
	struct uci_section *lan = uci_lookup_section(ctx, q.p.p, "lan");
	EXPECT_STREQ(uci_lookup_option_string(ctx, lan, "ifname"), "eth9");
	EXPECT_EQ(uci_lookup_option(ctx, lan, "dns"), nullptr);
	EXPECT_STREQ(uci_lookup_option_string(ctx, lan, "multi"), "a\nb");
	EXPECT_NE(uci_lookup_section(ctx, q.p.p, "wan"), nullptr);
	Ptr sw(ctx, "net.@switch[2]");
	ASSERT_NE(sw.p.s, nullptr);
	EXPECT_STREQ(sw.p.s->e.name, "cfg993777");
	EXPECT_TRUE(sw.p.s->anonymous);
	Ptr first(ctx, "net.@switch[0].name");
	EXPECT_STREQ(first.p.o->v.string, "switch0");
	// parsed lines are kept, applied or not
	int n = 0;
	struct uci_element *e;
	uci_foreach_element(&q.p.p->saved_delta, e) n++;
	EXPECT_EQ(n, 5);
	uci_free_context(ctx);
}

TEST_F(Store, Revert)
{
	struct uci_context *ctx = context_for(d);
	ASSERT_EQ(set_and_save(ctx, "net.lan.ifname=eth5"), UCI_OK);
	ASSERT_EQ(set_and_save(ctx, "net.lan.proto=dhcp"), UCI_OK);
	ASSERT_EQ(set_and_save(ctx, "net.wan.ifname=eth6"), UCI_OK);
	uci_free_context(ctx);

	ctx = context_for(d);
	Ptr opt(ctx, "net.lan.proto");
	ASSERT_EQ(uci_revert(ctx, &opt.p), UCI_OK);
	EXPECT_STREQ(uci_lookup_option_string(ctx, uci_lookup_section(ctx, opt.p.p, "lan"), "proto"), "static");
	EXPECT_EQ(read_file(d.save_file("net")), "net.lan.ifname='eth5'\nnet.wan.ifname='eth6'\n");
	Ptr sec(ctx, "net.lan");
	ASSERT_EQ(uci_revert(ctx, &sec.p), UCI_OK);
	EXPECT_EQ(read_file(d.save_file("net")), "net.wan.ifname='eth6'\n");
	Ptr pkg(ctx, "net");
	ASSERT_EQ(uci_revert(ctx, &pkg.p), UCI_OK);
	EXPECT_EQ(read_file(d.save_file("net")), "");
	ASSERT_NE(pkg.p.p, nullptr);
	Ptr none(ctx, "nopkg");
	EXPECT_EQ(uci_revert(ctx, &none.p), UCI_ERR_NOTFOUND);
	uci_free_context(ctx);
	EXPECT_EQ(get(d, "net.wan.ifname"), "eth1");
}

TEST_F(Store, Directories)
{
	struct uci_context *ctx = uci_alloc_context();
	EXPECT_STREQ(ctx->confdir, "/etc/config");
	EXPECT_STREQ(ctx->savedir, "/tmp/.uci");
	EXPECT_EQ(ctx->flags, UCI_FLAG_STRICT | UCI_FLAG_SAVED_DELTA);
	EXPECT_EQ(uci_set_confdir(ctx, nullptr), UCI_ERR_INVAL);
	std::string s = d.path() + "/newsave";
	ASSERT_EQ(uci_set_savedir(ctx, s.c_str()), UCI_OK);
	ASSERT_EQ(uci_add_delta_path(ctx, "/x"), UCI_OK);
	EXPECT_EQ(uci_add_delta_path(ctx, "/x"), UCI_ERR_DUPLICATE);
	std::string order;
	struct uci_element *e;
	uci_foreach_element(&ctx->delta_path, e) order += std::string(e->name) + ";";
	EXPECT_EQ(order, "/tmp/.uci;/x;" + s + ";");

	// save creates a missing save directory, but only one level
	ASSERT_EQ(uci_set_confdir(ctx, d.conf().c_str()), UCI_OK);
	ASSERT_EQ(set_and_save(ctx, "net.lan.ifname=eth3"), UCI_OK);
	EXPECT_TRUE(file_exists(s + "/net"));
	std::string deep = d.path() + "/a/b";
	ASSERT_EQ(uci_set_savedir(ctx, deep.c_str()), UCI_OK);
	EXPECT_EQ(set_and_save(ctx, "net.lan.ifname=eth4"), UCI_ERR_IO);
	uci_free_context(ctx);
}

// A context whose config directory holds save-file lines cannot read them as config.
TEST_F(Store, ConfdirOfDeltaLines)
{
	TempDir state;
	write_file(state.conf_file("net"), "net.lan.up='1'\n");
	struct uci_context *ctx = context_for(state);
	Ptr q(ctx, "net.lan.up");
	EXPECT_EQ(q.rc, UCI_ERR_PARSE);
	EXPECT_EQ(error_text(ctx), "Parse error (invalid command) at line 1, byte 0");
	Ptr missing(ctx, "other.lan.up");
	EXPECT_EQ(missing.rc, UCI_ERR_NOTFOUND);
	uci_free_context(ctx);
}

// A state directory used as the config directory shares the save directory
// with the normal config: its commit takes the pending changes made for the
// normal package, and the normal file never receives them.
TEST_F(Store, ConfdirSwitchSharesTheSaveDirectory)
{
	TempDir state;
	write_file(state.conf_file("net"), "config interface 'lan'\n\toption up '1'\n");
	struct uci_context *ctx = context_for(d);
	ASSERT_EQ(set_and_save(ctx, "net.lan.ifname=PENDING"), UCI_OK);
	uci_free_context(ctx);

	ctx = context_for(d);
	ASSERT_EQ(uci_set_confdir(ctx, state.conf().c_str()), UCI_OK);
	Ptr q(ctx, "net.lan.ifname");
	ASSERT_EQ(q.rc, UCI_OK);
	ASSERT_NE(q.p.o, nullptr);
	EXPECT_STREQ(q.p.o->v.string, "PENDING");
	ASSERT_EQ(uci_commit(ctx, &q.p.p, false), UCI_OK);
	uci_free_context(ctx);

	EXPECT_EQ(read_file(state.conf_file("net")),
		  "\nconfig interface 'lan'\n\toption up '1'\n\toption ifname 'PENDING'\n\n");
	EXPECT_EQ(read_file(d.save_file("net")), "");
	EXPECT_EQ(read_file(d.conf_file("net")), kNetSample);
}

TEST_F(Store, PathLoadedPackageSavesByCommit)
{
	struct uci_context *ctx = context_for(d);
	struct uci_package *p = nullptr;
	std::string path = d.conf_file("net");
	ASSERT_EQ(uci_load(ctx, path.c_str(), &p), UCI_OK);
	EXPECT_FALSE(p->has_delta);
	Ptr q(ctx, "net.lan.ifname=direct");
	ASSERT_EQ(uci_set(ctx, &q.p), UCI_OK);
	ASSERT_EQ(uci_save(ctx, p), UCI_OK);
	uci_free_context(ctx);
	EXPECT_FALSE(file_exists(d.save_file("net")));
	EXPECT_EQ(get(d, "net.lan.ifname"), "direct");
}

// A reader process loads the package in fresh contexts in a loop while this
// process sets and commits 1000 times; every read must parse and see a whole value.
TEST_F(Store, ConcurrentReaderDuringCommits)
{
	std::string big;
	for (int i = 0; i < 200; i++)
		big += "config item 'i" + std::to_string(i) + "'\n\toption payload '" + std::string(100, 'p') + "'\n";
	write_file(d.conf_file("net"), std::string(kNetSample) + big);
	int pfd[2];
	ASSERT_EQ(pipe(pfd), 0);
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		close(pfd[0]);
		long reads = 0, bad = 0;
		for (;;) {
			struct uci_context *ctx = context_for(d);
			char key[] = "net.lan.ifname";
			struct uci_ptr p;
			int rc = uci_lookup_ptr(ctx, &p, key, true);
			if (rc || !p.o || p.o->type != UCI_TYPE_STRING ||
			    (strcmp(p.o->v.string, "eth0") && strncmp(p.o->v.string, "value-", 6)))
				bad++;
			else if (!uci_lookup_section(ctx, p.p, "i199"))
				bad++;
			uci_free_context(ctx);
			reads++;
			if (getppid() == 1 || access((d.path() + "/stop").c_str(), F_OK) == 0)
				break;
		}
		char msg[64];
		int n = snprintf(msg, sizeof(msg), "%ld %ld", reads, bad);
		if (write(pfd[1], msg, (size_t)n) != n)
			_exit(2);
		_exit(0);
	}
	close(pfd[1]);
	struct uci_context *ctx = context_for(d);
	for (int i = 0; i < 1000; i++) {
		std::string kv = "net.lan.ifname=value-" + std::to_string(i);
		Ptr q(ctx, kv);
		ASSERT_EQ(q.rc, UCI_OK);
		ASSERT_EQ(uci_set(ctx, &q.p), UCI_OK);
		ASSERT_EQ(uci_save(ctx, q.p.p), UCI_OK);
		ASSERT_EQ(uci_commit(ctx, &q.p.p, false), UCI_OK) << i;
	}
	uci_free_context(ctx);
	write_file(d.path() + "/stop", "");
	char msg[64] = { 0 };
	ASSERT_GT(read(pfd[0], msg, sizeof(msg) - 1), 0);
	close(pfd[0]);
	int st = 0;
	waitpid(pid, &st, 0);
	long reads = 0, bad = 0;
	sscanf(msg, "%ld %ld", &reads, &bad);
	EXPECT_GT(reads, 0);
	EXPECT_EQ(bad, 0) << "of " << reads << " reads";
	EXPECT_EQ(get(d, "net.lan.ifname"), "value-999");
}

} // namespace
