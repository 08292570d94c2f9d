// Commit under concurrency and when killed part-way: no change may be lost
// or applied twice, and reads never block on a file that is not regular.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>

#include "uci_test_util.h"

using namespace ucitest;

namespace {

int set_commit(struct uci_context *ctx, const std::string &kv)
{
	std::string k = kv;
	struct uci_ptr p;
	int r = uci_lookup_ptr(ctx, &p, &k[0], true);
	if (!r)
		r = uci_set(ctx, &p);
	if (!r)
		r = uci_save(ctx, p.p);
	if (!r)
		r = uci_commit(ctx, &p.p, false);
	return r;
}

// Four writers each set and commit their own 150 options in one package
// while a reader loads it over and over; every committed option must be
// in the final file and every read must succeed.
TEST(CommitSafety, ConcurrentCommittersLoseNothing)
{
	const int kWriters = 4, kRounds = 150;
	TempDir d;
	write_file(d.conf_file("net"), kNetSample);
	std::vector<pid_t> kids;
	for (int w = 0; w < kWriters; w++) {
		pid_t pid = fork();
		ASSERT_GE(pid, 0);
		if (pid == 0) {
			for (int i = 0; i < kRounds; i++) {
				struct uci_context *ctx = context_for(d);
				int r = set_commit(ctx, "net.lan.w" + std::to_string(w) + "_" + std::to_string(i) + "=v");
				uci_free_context(ctx);
				if (r)
					_exit(10 + r);
			}
			_exit(0);
		}
		kids.push_back(pid);
	}
	pid_t reader = fork();
	ASSERT_GE(reader, 0);
	if (reader == 0) {
		int bad = 0;
		while (access((d.path() + "/stop").c_str(), F_OK) != 0) {
			struct uci_context *ctx = context_for(d);
			struct uci_package *p = nullptr;
			if (uci_load(ctx, "net", &p) || !uci_lookup_section(ctx, p, "wan"))
				bad++;
			uci_free_context(ctx);
		}
		_exit(bad ? 1 : 0);
	}
	for (pid_t k : kids) {
		int st = 0;
		waitpid(k, &st, 0);
		EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "writer status " << st;
	}
	write_file(d.path() + "/stop", "");
	int st = 0;
	waitpid(reader, &st, 0);
	EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "a read failed during the commits";

	std::string text = read_file(d.conf_file("net"));
	int missing = 0;
	for (int w = 0; w < kWriters; w++)
		for (int i = 0; i < kRounds; i++)
			missing += text.find("option w" + std::to_string(w) + "_" + std::to_string(i) + " 'v'") ==
				   std::string::npos;
	EXPECT_EQ(missing, 0) << "of " << kWriters * kRounds;
	EXPECT_EQ(read_file(d.save_file("net")), "");
}

// Calls that change files; the traced commit is killed just before one of them.
bool changes_files(const struct __ptrace_syscall_info &si)
{
	long nr = (long)si.entry.nr;
	switch (nr) {
	case SYS_openat:
		return si.entry.args[2] & (O_WRONLY | O_RDWR | O_CREAT);
	case SYS_write:
		return si.entry.args[0] > 2;
	case SYS_ftruncate:
	case SYS_fsync:
	case SYS_fchmod:
	case SYS_flock:
	case SYS_unlinkat:
	case SYS_renameat2:
#ifdef SYS_renameat
	case SYS_renameat:
#endif
#ifdef SYS_rename
	case SYS_rename:
#endif
#ifdef SYS_unlink
	case SYS_unlink:
#endif
#ifdef SYS_open
	case SYS_open:
#endif
		return true;
	default:
		return false;
	}
}

// Runs the uci tool with args and SIGKILLs it on entry to its nth
// file-changing call. Returns 1 if killed, 0 if it ran to the end, -1 if
// tracing is not possible here.
int run_killed_at(const std::vector<std::string> &args, int nth)
{
	pid_t pid = fork();
	if (pid < 0)
		return -1;
	if (pid == 0) {
		int null = open("/dev/null", O_RDWR);
		dup2(null, 1);
		dup2(null, 2);
		if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) < 0)
			_exit(77);
		raise(SIGSTOP);
		exec_uci(args);
	}
	int st = 0;
	waitpid(pid, &st, 0);
	if (!WIFSTOPPED(st))
		return -1;
	ptrace(PTRACE_SETOPTIONS, pid, nullptr, (void *)(long)(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
	int seen = 0;
	bool exec_done = false;
	for (;;) {
		if (ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr) < 0)
			return -1;
		if (waitpid(pid, &st, 0) < 0)
			return -1;
		if (WIFEXITED(st))
			return WEXITSTATUS(st) == 77 ? -1 : 0;
		if (WIFSIGNALED(st))
			return 1;
		if (!WIFSTOPPED(st) || WSTOPSIG(st) != (SIGTRAP | 0x80))
			continue;
		struct __ptrace_syscall_info si;
		if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, (void *)sizeof(si), &si) <= 0) {
			kill(pid, SIGKILL);
			waitpid(pid, &st, 0);
			return -1;
		}
		if (si.op != PTRACE_SYSCALL_INFO_ENTRY)
			continue;
		if ((long)si.entry.nr == SYS_execve) {
			exec_done = true;
			continue;
		}
		if (!exec_done || !changes_files(si) || ++seen < nth)
			continue;
		kill(pid, SIGKILL);
		waitpid(pid, &st, 0);
		return 1;
	}
}

// Pending changes of every kind, including those that would do harm if
// replayed twice (list append, anonymous section, item removal, rename).
const char *const kPending =
	"net.lan.ipaddr='10.0.0.1'\n"
	"|net.lan.dns='9.9.9.9'\n"
	"+net.cfg053777='switch'\n"
	"net.cfg053777.name='switch2'\n"
	"-net.cfg043777.ports='0'\n"
	"@net.wan='wan6'\n"
	"^net.cfg033777='0'\n"
	"~net.lan.dns='8.8.8.8'\n"
	"-net.wan6.ifname\n";

// A uci commit killed before each of its file-changing steps in turn: a new
// process must load exactly the tree it would have loaded before the commit
// (old file + pending changes, or new file), and a later commit must write
// exactly what an uninterrupted one writes.
TEST(CommitSafety, KilledAtEveryStepLosesNothing)
{
	TempDir d;
	auto reset = [&] {
		for (const std::string &n : list_dir(d.conf()))
			unlink((d.conf() + "/" + n).c_str());
		write_file(d.conf_file("net"), kNetSample);
		write_file(d.save_file("net"), kPending);
	};
	reset();
	RunResult before = run_uci_in(d, { "export", "net" });
	RunResult changes = run_uci_in(d, { "changes", "net" });
	ASSERT_EQ(before.status, 0);
	ASSERT_NE(before.out.find("list dns '9.9.9.9'"), std::string::npos) << before.out;
	ASSERT_EQ(run_uci_in(d, { "commit", "net" }).status, 0);
	std::string committed = read_file(d.conf_file("net"));
	ASSERT_EQ("package net\n" + committed, before.out);

	std::vector<std::string> commit = uci_args_in(d, { "commit", "net" });
	int steps = 0;
	for (int n = 1;; n++) {
		ASSERT_LT(n, 500) << "commit never finished";
		reset();
		int k = run_killed_at(commit, n);
		if (k < 0)
			GTEST_SKIP() << "tracing a child process is not permitted here";
		if (k == 0)
			break;
		steps++;
		SCOPED_TRACE("killed at file-changing call " + std::to_string(n));
		RunResult after = run_uci_in(d, { "export", "net" });
		EXPECT_EQ(after.status, 0);
		EXPECT_EQ(after.out, before.out);
		std::string ch = run_uci_in(d, { "changes", "net" }).out;
		EXPECT_TRUE(ch == changes.out || ch.empty()) << ch;
		ASSERT_EQ(run_uci_in(d, { "commit", "net" }).status, 0);
		EXPECT_EQ(read_file(d.conf_file("net")), committed);
		EXPECT_EQ(run_uci_in(d, { "changes", "net" }).out, "");
	}
	EXPECT_GE(steps, 5);
	RecordProperty("killed_steps", steps);
	printf("commit killed at each of %d file-changing steps\n", steps);
}

// A FIFO, a directory or a device in the place of a config or save file is
// refused at once instead of blocking the reader in open() or read().
TEST(CommitSafety, NonRegularFilesRefusedWithoutBlocking)
{
	TempDir d;
	ASSERT_EQ(mkfifo(d.conf_file("fifo").c_str(), 0600), 0);
	ASSERT_EQ(symlink("/dev/zero", d.conf_file("zero").c_str()), 0);
	write_file(d.conf_file("net"), kNetSample);
	ASSERT_EQ(mkfifo(d.save_file("net").c_str(), 0600), 0);
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		alarm(20); // a hang shows up as a failure, not a stuck suite
		struct uci_context *ctx = context_for(d);
		struct uci_package *p = nullptr;
		int r1 = uci_load(ctx, "fifo", &p);
		int r2 = uci_load(ctx, "zero", &p);
		int r3 = uci_load(ctx, "net", &p);
		int r4 = set_commit(ctx, "net.lan.ifname=eth9");
		bool ok = r1 == UCI_ERR_NOTFOUND && r2 == UCI_ERR_NOTFOUND && r3 == UCI_OK && r4 == UCI_ERR_IO;
		uci_free_context(ctx);
		_exit(ok ? 0 : 1);
	}
	int st = 0;
	waitpid(pid, &st, 0);
	EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "status " << st;
}

} // namespace
