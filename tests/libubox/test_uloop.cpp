// uloop: fd dispatch, blocking mode, timeouts, ending the loop, signals,
// processes and intervals.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <libubox/uloop.h>

namespace {

std::vector<std::string> g_log;

int64_t now_ms()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t) ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

struct Loop : ::testing::Test {
	struct uloop_timeout guard = {};
	int pipefd[2] = { -1, -1 };

	void SetUp() override
	{
		g_log.clear();
		ASSERT_EQ(uloop_init(), 0);
		// no test may hang: give up after 5 s
		guard.cb = [](struct uloop_timeout *) {
			g_log.push_back("guard");
			uloop_end();
		};
		uloop_timeout_set(&guard, 5000);
	}
	void TearDown() override
	{
		uloop_timeout_cancel(&guard);
		uloop_done();
		for (int fd : pipefd)
			if (fd >= 0)
				close(fd);
	}
	void make_pipe() { ASSERT_EQ(pipe(pipefd), 0); }
};

struct Recorder {
	struct uloop_fd ufd = {};
	std::string name;
	int calls = 0;
	unsigned int last_events = 0;
	bool end_after = false;
	bool drain = false;
	int end_after_calls = 0;
};

Recorder *rec_of(struct uloop_fd *u)
{
	return reinterpret_cast<Recorder *>(reinterpret_cast<char *>(u) - offsetof(Recorder, ufd));
}

void record_cb(struct uloop_fd *u, unsigned int events)
{
	Recorder *r = rec_of(u);
	r->calls++;
	r->last_events = events;
	g_log.push_back(r->name);
	if (r->drain) {
		char buf[64];
		while (read(u->fd, buf, sizeof(buf)) > 0) {
		}
	}
	if (r->end_after || (r->end_after_calls && r->calls >= r->end_after_calls))
		uloop_end();
}

} // namespace

TEST(UloopLayout, StructsAndFlags)
{
	EXPECT_EQ(sizeof(struct uloop_fd), 16u);
	EXPECT_EQ(offsetof(struct uloop_fd, fd), 8u);
	EXPECT_EQ(offsetof(struct uloop_fd, eof), 12u);
	EXPECT_EQ(offsetof(struct uloop_fd, error), 13u);
	EXPECT_EQ(offsetof(struct uloop_fd, registered), 14u);
	EXPECT_EQ(offsetof(struct uloop_fd, flags), 15u);
	EXPECT_EQ(sizeof(struct uloop_timeout), 48u);
	EXPECT_EQ(offsetof(struct uloop_timeout, pending), 16u);
	EXPECT_EQ(offsetof(struct uloop_timeout, cb), 24u);
	EXPECT_EQ(offsetof(struct uloop_timeout, time), 32u);
	EXPECT_EQ(sizeof(struct uloop_process), 40u);
	EXPECT_EQ(offsetof(struct uloop_process, pid), 32u);
	EXPECT_EQ(sizeof(struct uloop_interval), 32u);
	EXPECT_EQ(sizeof(struct uloop_signal), 192u);
	EXPECT_EQ(ULOOP_READ, 1);
	EXPECT_EQ(ULOOP_WRITE, 2);
	EXPECT_EQ(ULOOP_EDGE_TRIGGER, 4);
	EXPECT_EQ(ULOOP_BLOCKING, 8);
	EXPECT_EQ(ULOOP_READ | ULOOP_BLOCKING, 9);
	EXPECT_EQ(ULOOP_EVENT_MASK, 3);
	EXPECT_EQ(ULOOP_EVENT_BUFFERED, 16);
	EXPECT_EQ(ULOOP_ERROR_CB, 64);
	EXPECT_TRUE(uloop_handle_sigchld);
	EXPECT_EQ(uloop_fd_set_cb, nullptr);
}

TEST(UloopInit, WithoutInitFdAddFails)
{
	Recorder r;
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	r.ufd.fd = p[0];
	r.ufd.cb = record_cb;
	errno = 0;
	EXPECT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ), -1);
	EXPECT_EQ(errno, EBADF);
	EXPECT_FALSE(r.ufd.registered);
	close(p[0]);
	close(p[1]);
}

TEST(UloopInit, SignalDispositionsInstalledAndRestored)
{
	struct sigaction sa;
	signal(SIGINT, SIG_DFL);
	signal(SIGTERM, SIG_DFL);
	signal(SIGCHLD, SIG_DFL);
	signal(SIGPIPE, SIG_DFL);
	// a caller's own choice is left alone
	signal(SIGQUIT, SIG_DFL);

	ASSERT_EQ(uloop_init(), 0);
	EXPECT_EQ(uloop_init(), 0); // second call changes nothing
	sigaction(SIGINT, NULL, &sa);
	EXPECT_NE(sa.sa_handler, SIG_DFL);
	EXPECT_NE(sa.sa_handler, SIG_IGN);
	EXPECT_FALSE(sa.sa_flags & SA_RESTART);
	sigaction(SIGTERM, NULL, &sa);
	EXPECT_NE(sa.sa_handler, SIG_DFL);
	sigaction(SIGCHLD, NULL, &sa);
	EXPECT_NE(sa.sa_handler, SIG_DFL);
	sigaction(SIGPIPE, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_IGN);
	sigaction(SIGQUIT, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_DFL);

	uloop_done();
	sigaction(SIGINT, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_DFL);
	sigaction(SIGTERM, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_DFL);
	sigaction(SIGCHLD, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_DFL);
	sigaction(SIGPIPE, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_IGN); // stays ignored
	signal(SIGPIPE, SIG_DFL);

	// a pre-set SIG_IGN for SIGTERM survives init and done
	signal(SIGTERM, SIG_IGN);
	ASSERT_EQ(uloop_init(), 0);
	sigaction(SIGTERM, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_IGN);
	uloop_done();
	sigaction(SIGTERM, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_IGN);
	signal(SIGTERM, SIG_DFL);
}

TEST_F(Loop, FdDispatchOnePerIteration)
{
	int a[2], b[2];
	ASSERT_EQ(pipe(a), 0);
	ASSERT_EQ(pipe(b), 0);
	Recorder ra, rb;
	ra.name = "a";
	rb.name = "b";
	ra.drain = rb.drain = true;
	ra.ufd.fd = a[0];
	rb.ufd.fd = b[0];
	ra.ufd.cb = rb.ufd.cb = record_cb;
	ASSERT_EQ(uloop_fd_add(&ra.ufd, ULOOP_READ), 0);
	ASSERT_EQ(uloop_fd_add(&rb.ufd, ULOOP_READ), 0);
	ASSERT_EQ(write(a[1], "x", 1), 1);
	ASSERT_EQ(write(b[1], "y", 1), 1);

	// two ready fds need two bounded runs
	EXPECT_EQ(uloop_run_timeout(100), 0);
	EXPECT_EQ(g_log.size(), 1u);
	EXPECT_EQ(uloop_run_timeout(100), 0);
	EXPECT_EQ(g_log.size(), 2u);
	EXPECT_EQ(ra.calls, 1);
	EXPECT_EQ(rb.calls, 1);
	EXPECT_EQ(ra.last_events, (unsigned) ULOOP_READ);

	// nothing ready: a bounded run waits its timeout, and its own bound ends
	// it (the 5 s guard is still pending)
	int64_t t0 = now_ms();
	EXPECT_EQ(uloop_run_timeout(100), 0);
	int64_t took = now_ms() - t0;
	EXPECT_GE(took, 90);
	EXPECT_TRUE(guard.pending);
	EXPECT_EQ(g_log.size(), 2u);

	for (int fd : { a[0], a[1], b[0], b[1] })
		close(fd);
}

TEST_F(Loop, NonblockUnlessBlockingFlag)
{
	make_pipe();
	Recorder r, w;
	r.ufd.fd = pipefd[0];
	r.ufd.cb = record_cb;
	w.ufd.fd = pipefd[1];
	w.ufd.cb = record_cb;

	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ | ULOOP_BLOCKING), 0);
	EXPECT_FALSE(fcntl(pipefd[0], F_GETFL) & O_NONBLOCK);
	EXPECT_EQ(r.ufd.flags, 9);
	EXPECT_TRUE(r.ufd.registered);

	ASSERT_EQ(uloop_fd_add(&w.ufd, ULOOP_WRITE), 0);
	EXPECT_TRUE(fcntl(pipefd[1], F_GETFL) & O_NONBLOCK);

	// re-adding never touches O_NONBLOCK and just changes the flags
	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ), 0);
	EXPECT_FALSE(fcntl(pipefd[0], F_GETFL) & O_NONBLOCK);
	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ | ULOOP_WRITE), 0);
	ASSERT_EQ(uloop_fd_add(&w.ufd, ULOOP_WRITE | ULOOP_BLOCKING), 0);
	EXPECT_EQ(w.ufd.flags, 0xa);

	// flags without READ/WRITE delete
	ASSERT_EQ(uloop_fd_add(&w.ufd, ULOOP_BLOCKING), 0);
	EXPECT_FALSE(w.ufd.registered);
	EXPECT_EQ(w.ufd.flags, 0);
	EXPECT_EQ(uloop_fd_delete(&w.ufd), 0); // unregistered: 0

	// errors from epoll leave the struct as it was
	Recorder bad;
	bad.ufd.fd = 999;
	errno = 0;
	EXPECT_EQ(uloop_fd_add(&bad.ufd, ULOOP_READ), -1);
	EXPECT_EQ(errno, EBADF);
	EXPECT_FALSE(bad.ufd.registered);
	Recorder same;
	same.ufd.fd = pipefd[0];
	errno = 0;
	EXPECT_EQ(uloop_fd_add(&same.ufd, ULOOP_READ), -1);
	EXPECT_EQ(errno, EEXIST);
	EXPECT_FALSE(same.ufd.registered);
	EXPECT_EQ(same.ufd.flags, 0);
}

TEST_F(Loop, BlockingFdReadsBlockingInCallback)
{
	// a peer sends in two parts; a blocking read in the callback waits for all
	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
	static int got;
	got = 0;
	struct uloop_fd u = {};
	u.fd = sv[0];
	u.cb = [](struct uloop_fd *fd, unsigned int) {
		char buf[8];
		ssize_t n = recv(fd->fd, buf, sizeof(buf), MSG_WAITALL);
		got = (int) n;
		uloop_end();
	};
	ASSERT_EQ(uloop_fd_add(&u, ULOOP_READ | ULOOP_BLOCKING), 0);
	// a thread, not a child: a SIGCHLD would interrupt the read (no SA_RESTART)
	std::thread peer([&] {
		ssize_t r = write(sv[1], "abcd", 4);
		usleep(50000);
		r = write(sv[1], "efgh", 4);
		(void) r;
	});
	uloop_run();
	peer.join();
	EXPECT_EQ(got, 8);
	close(sv[0]);
	close(sv[1]);
}

TEST_F(Loop, LevelAndEdgeTriggered)
{
	make_pipe();
	Recorder r;
	r.ufd.fd = pipefd[0];
	r.ufd.cb = record_cb;
	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ), 0);
	ASSERT_EQ(write(pipefd[1], "x", 1), 1);
	// unread data fires on every iteration
	uloop_run_timeout(50);
	uloop_run_timeout(50);
	uloop_run_timeout(50);
	EXPECT_EQ(r.calls, 3);

	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ | ULOOP_EDGE_TRIGGER), 0);
	r.calls = 0;
	ASSERT_EQ(write(pipefd[1], "y", 1), 1);
	uloop_run_timeout(50);
	uloop_run_timeout(50);
	EXPECT_EQ(r.calls, 1);
	ASSERT_EQ(write(pipefd[1], "z", 1), 1);
	uloop_run_timeout(50);
	EXPECT_EQ(r.calls, 2);
}

TEST_F(Loop, HangupRemovesFdBeforeCallback)
{
	make_pipe();
	static bool registered_in_cb, error_in_cb;
	static unsigned int events_in_cb;
	static int calls;
	calls = 0;
	struct uloop_fd u = {};
	u.fd = pipefd[0];
	u.cb = [](struct uloop_fd *fd, unsigned int events) {
		calls++;
		registered_in_cb = fd->registered;
		error_in_cb = fd->error;
		events_in_cb = events;
	};
	ASSERT_EQ(uloop_fd_add(&u, ULOOP_READ), 0);
	close(pipefd[1]);
	pipefd[1] = -1;
	uloop_run_timeout(100);
	EXPECT_EQ(calls, 1);
	EXPECT_FALSE(registered_in_cb);
	EXPECT_TRUE(error_in_cb);
	EXPECT_EQ(events_in_cb, 0u);
	EXPECT_FALSE(u.registered);
	uloop_run_timeout(50);
	EXPECT_EQ(calls, 1);
}

TEST_F(Loop, PeerShutdownSetsEofOnly)
{
	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
	Recorder r;
	r.ufd.fd = sv[0];
	r.ufd.cb = record_cb;
	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ), 0);
	shutdown(sv[1], SHUT_WR);
	uloop_run_timeout(100);
	EXPECT_EQ(r.calls, 1);
	EXPECT_EQ(r.last_events, (unsigned) ULOOP_READ);
	EXPECT_TRUE(r.ufd.eof);
	EXPECT_FALSE(r.ufd.error);
	EXPECT_TRUE(r.ufd.registered);
	uloop_fd_delete(&r.ufd);
	close(sv[0]);
	close(sv[1]);
}

TEST_F(Loop, DeleteDropsFetchedEvents)
{
	int a[2], b[2];
	ASSERT_EQ(pipe(a), 0);
	ASSERT_EQ(pipe(b), 0);
	Recorder ra, rb;
	ra.ufd.fd = a[0];
	rb.ufd.fd = b[0];
	// both become ready in the same wait; whichever runs first deletes the other
	static Recorder *pa, *pb;
	pa = &ra;
	pb = &rb;
	ra.ufd.cb = [](struct uloop_fd *u, unsigned int ev) {
		record_cb(u, ev);
		uloop_fd_delete(u);
		uloop_fd_delete(&pb->ufd);
	};
	rb.ufd.cb = [](struct uloop_fd *u, unsigned int ev) {
		record_cb(u, ev);
		uloop_fd_delete(u);
		uloop_fd_delete(&pa->ufd);
	};
	ASSERT_EQ(uloop_fd_add(&ra.ufd, ULOOP_READ), 0);
	ASSERT_EQ(uloop_fd_add(&rb.ufd, ULOOP_READ), 0);
	ASSERT_EQ(write(a[1], "x", 1), 1);
	ASSERT_EQ(write(b[1], "y", 1), 1);
	uloop_run_timeout(50);
	uloop_run_timeout(50);
	uloop_run_timeout(50);
	EXPECT_EQ(ra.calls + rb.calls, 1);
	uloop_fd_delete(&ra.ufd);
	uloop_fd_delete(&rb.ufd);
	for (int fd : { a[0], a[1], b[0], b[1] })
		close(fd);
}

TEST_F(Loop, EndFromFdCallbackReturnsZero)
{
	make_pipe();
	Recorder r;
	r.ufd.fd = pipefd[0];
	r.ufd.cb = record_cb;
	r.end_after_calls = 3; // level-triggered: fires until the third call ends it
	ASSERT_EQ(uloop_fd_add(&r.ufd, ULOOP_READ), 0);
	ASSERT_EQ(write(pipefd[1], "x", 1), 1);
	EXPECT_EQ(uloop_run(), 0);
	EXPECT_EQ(r.calls, 3);
	EXPECT_FALSE(uloop_cancelling());
	EXPECT_TRUE(uloop_cancelled);
}

TEST_F(Loop, TimeoutsFireInOrderFifoAmongEqual)
{
	static struct uloop_timeout t[5];
	for (int i = 0; i < 5; i++) {
		memset(&t[i], 0, sizeof(t[i]));
		t[i].cb = [](struct uloop_timeout *tt) {
			EXPECT_FALSE(tt->pending);
			g_log.push_back(std::to_string(tt - t));
			if (tt == &t[0])
				uloop_end();
		};
	}
	// two timers with the very same deadline: the first added fires first
	uloop_timeout_set(&t[1], 10);
	t[3].time = t[1].time;
	ASSERT_EQ(uloop_timeout_add(&t[3]), 0);
	uloop_timeout_set(&t[2], 20);
	uloop_timeout_set(&t[0], 30);
	uloop_timeout_set(&t[4], 0);
	EXPECT_EQ(uloop_run(), 0);
	EXPECT_EQ(g_log, (std::vector<std::string>{ "4", "1", "3", "2", "0" }));
}

TEST_F(Loop, TimeoutApi)
{
	struct uloop_timeout t = {};
	t.cb = [](struct uloop_timeout *) {};
	EXPECT_EQ(uloop_timeout_cancel(&t), -1);
	EXPECT_EQ(uloop_timeout_remaining64(&t), -1);
	// what remains is the timeout less the time since it was set, which the
	// test reads around the two calls (whole ms, so one more either way)
	int64_t t0 = now_ms();
	EXPECT_EQ(uloop_timeout_set(&t, 1000), 0);
	EXPECT_TRUE(t.pending);
	EXPECT_EQ(uloop_timeout_add(&t), -1);
	int64_t rem = uloop_timeout_remaining64(&t);
	int64_t since = now_ms() - t0;
	EXPECT_GE(rem, 1000 - since - 2);
	EXPECT_LE(rem, 1000);
	EXPECT_LE(uloop_get_next_timeout(), 1000);
	t0 = now_ms();
	EXPECT_EQ(uloop_timeout_set(&t, -50), 0); // re-set while pending
	rem = uloop_timeout_remaining64(&t);
	since = now_ms() - t0;
	EXPECT_LE(rem, -50);
	EXPECT_GE(rem, -50 - since - 2);
	EXPECT_EQ(uloop_get_next_timeout(), 0);
	EXPECT_EQ(uloop_timeout_cancel(&t), 0);
	EXPECT_FALSE(t.pending);
	EXPECT_EQ(uloop_timeout_cancel(&t), -1);
	uloop_timeout_cancel(&guard);
	EXPECT_EQ(uloop_get_next_timeout(), -1);
	uloop_timeout_set(&guard, 5000);
}

TEST_F(Loop, BoundedRunReturnsAtTimerWithoutFiringIt)
{
	struct uloop_timeout t = {};
	static int fired;
	fired = 0;
	t.cb = [](struct uloop_timeout *) { fired++; };
	uloop_timeout_set(&t, 30);
	// the bound is far from the timer so that a loaded machine cannot blur them
	int64_t t0 = now_ms();
	uloop_run_timeout(3000);
	int64_t took = now_ms() - t0;
	EXPECT_GE(took, 25);
	EXPECT_LT(took, 2000);
	EXPECT_EQ(fired, 0);
	uloop_run_timeout(0); // fires it first thing
	EXPECT_EQ(fired, 1);
}

TEST_F(Loop, EndFromTimerLetsOtherDueTimersFire)
{
	static struct uloop_timeout a, b;
	memset(&a, 0, sizeof(a));
	memset(&b, 0, sizeof(b));
	a.cb = [](struct uloop_timeout *) {
		g_log.push_back("a");
		uloop_end();
	};
	b.cb = [](struct uloop_timeout *) { g_log.push_back("b"); };
	uloop_timeout_set(&a, 10);
	uloop_timeout_set(&b, 10);
	usleep(20000); // both are due in the same pass
	EXPECT_EQ(uloop_run(), 0);
	EXPECT_EQ(g_log, (std::vector<std::string>{ "a", "b" }));
}

TEST_F(Loop, RearmAndCancelFromCallbacks)
{
	static struct uloop_timeout rearm, victim, killer;
	static int rearm_count;
	rearm_count = 0;
	memset(&rearm, 0, sizeof(rearm));
	memset(&victim, 0, sizeof(victim));
	memset(&killer, 0, sizeof(killer));
	rearm.cb = [](struct uloop_timeout *t) {
		if (++rearm_count < 3)
			uloop_timeout_set(t, 0); // fires again on a later iteration
		else
			uloop_end();
	};
	killer.cb = [](struct uloop_timeout *) { uloop_timeout_cancel(&victim); };
	victim.cb = [](struct uloop_timeout *) { g_log.push_back("victim"); };
	uloop_timeout_set(&killer, 5);
	victim.time = killer.time;
	uloop_timeout_add(&victim);
	uloop_timeout_set(&rearm, 15);
	usleep(10000);
	EXPECT_EQ(uloop_run(), 0);
	EXPECT_EQ(rearm_count, 3);
	EXPECT_TRUE(g_log.empty());
}

TEST_F(Loop, EndBeforeRunIsForgotten)
{
	struct uloop_timeout t = {};
	t.cb = [](struct uloop_timeout *) {
		g_log.push_back("t");
		uloop_end();
	};
	uloop_timeout_set(&t, 20);
	uloop_end();
	EXPECT_EQ(uloop_run(), 0);
	EXPECT_EQ(g_log, (std::vector<std::string>{ "t" }));
}

TEST_F(Loop, SigtermFromAnotherProcessEndsRun)
{
	pid_t parent = getpid();
	pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		usleep(50000);
		kill(parent, SIGTERM);
		_exit(0);
	}
	int64_t t0 = now_ms();
	EXPECT_EQ(uloop_run(), SIGTERM);
	EXPECT_LT(now_ms() - t0, 2000);
	EXPECT_TRUE(uloop_cancelled);
	EXPECT_TRUE(g_log.empty()); // not the guard
	waitpid(pid, NULL, 0);
}

TEST_F(Loop, SigintFromCallbackEndsRunWithTwo)
{
	struct uloop_timeout t = {};
	t.cb = [](struct uloop_timeout *) { raise(SIGINT); };
	uloop_timeout_set(&t, 10);
	EXPECT_EQ(uloop_run(), SIGINT);
	// a later run starts fresh
	struct uloop_timeout e = {};
	e.cb = [](struct uloop_timeout *) { uloop_end(); };
	uloop_timeout_set(&e, 10);
	EXPECT_EQ(uloop_run(), 0);
}

TEST_F(Loop, CancellingOnlyInsideRun)
{
	static bool inside;
	struct uloop_timeout t = {};
	t.cb = [](struct uloop_timeout *) {
		uloop_end();
		inside = uloop_cancelling();
	};
	uloop_timeout_set(&t, 0);
	uloop_run();
	EXPECT_TRUE(inside);
	EXPECT_TRUE(uloop_cancelled);
	EXPECT_FALSE(uloop_cancelling());
}

TEST_F(Loop, ProcessExitStatusAndReaping)
{
	static struct uloop_process p;
	static int status;
	memset(&p, 0, sizeof(p));
	status = -1;
	p.cb = [](struct uloop_process *pp, int ret) {
		EXPECT_FALSE(pp->pending);
		status = ret;
		uloop_end();
	};
	pid_t unwatched = fork();
	ASSERT_GE(unwatched, 0);
	if (unwatched == 0)
		_exit(0);
	p.pid = fork();
	ASSERT_GE(p.pid, 0);
	if (p.pid == 0) {
		usleep(30000);
		_exit(3);
	}
	ASSERT_EQ(uloop_process_add(&p), 0);
	EXPECT_EQ(uloop_process_add(&p), -1);
	uloop_run();
	EXPECT_EQ(status, 0x300);
	// every child is reaped, watched or not
	errno = 0;
	EXPECT_EQ(waitpid(unwatched, NULL, WNOHANG), -1);
	EXPECT_EQ(errno, ECHILD);
	EXPECT_EQ(uloop_process_delete(&p), -1);
}

TEST_F(Loop, DoneCancelsTimersAndKeepsFdState)
{
	make_pipe();
	struct uloop_timeout t = {};
	t.cb = [](struct uloop_timeout *) {};
	uloop_timeout_set(&t, 1000);
	struct uloop_fd u = {};
	u.fd = pipefd[0];
	u.cb = record_cb;
	ASSERT_EQ(uloop_fd_add(&u, ULOOP_READ), 0);
	uloop_done();
	EXPECT_FALSE(t.pending);
	EXPECT_FALSE(guard.pending);
	EXPECT_TRUE(u.registered);

	ASSERT_EQ(uloop_init(), 0);
	errno = 0;
	EXPECT_EQ(uloop_fd_add(&u, ULOOP_READ), -1); // modify of an fd epoll never saw
	EXPECT_EQ(errno, ENOENT);
	u.registered = false;
	EXPECT_EQ(uloop_fd_add(&u, ULOOP_READ), 0);
	uloop_timeout_set(&guard, 5000);
}

TEST_F(Loop, FdSetHookSeesAddAndDelete)
{
	make_pipe();
	static std::vector<unsigned int> seen;
	seen.clear();
	uloop_fd_set_cb = [](struct uloop_fd *, unsigned int flags) { seen.push_back(flags); };
	struct uloop_fd u = {};
	u.fd = pipefd[0];
	u.cb = record_cb;
	uloop_fd_add(&u, ULOOP_READ | ULOOP_BLOCKING);
	uloop_fd_delete(&u);
	uloop_fd_set_cb = NULL;
	EXPECT_EQ(seen, (std::vector<unsigned int>{ 9, 0 }));
}

TEST_F(Loop, IntervalFiresRepeatedly)
{
	static struct uloop_interval iv;
	static int ticks;
	memset(&iv, 0, sizeof(iv));
	ticks = 0;
	iv.cb = [](struct uloop_interval *i) {
		if (++ticks == 3) {
			uloop_interval_cancel(i);
			uloop_end();
		}
	};
	ASSERT_EQ(uloop_interval_set(&iv, 10), 0);
	EXPECT_GE(uloop_interval_remaining(&iv), 0);
	uloop_run();
	EXPECT_EQ(ticks, 3);
	EXPECT_GE(iv.expirations, 3u);
	EXPECT_EQ(uloop_interval_cancel(&iv), -1);
}

TEST_F(Loop, SignalDeliveredThroughLoop)
{
	static struct uloop_signal s;
	memset(&s, 0, sizeof(s));
	s.signo = SIGUSR1;
	s.cb = [](struct uloop_signal *sig) {
		g_log.push_back("usr1");
		uloop_end();
	};
	ASSERT_EQ(uloop_signal_add(&s), 0);
	EXPECT_EQ(uloop_signal_add(&s), -1);
	struct uloop_timeout t = {};
	t.cb = [](struct uloop_timeout *) { raise(SIGUSR1); };
	uloop_timeout_set(&t, 10);
	EXPECT_EQ(uloop_run(), 0);
	EXPECT_EQ(g_log, (std::vector<std::string>{ "usr1" }));
	EXPECT_EQ(uloop_signal_delete(&s), 0);
	struct sigaction sa;
	sigaction(SIGUSR1, NULL, &sa);
	EXPECT_EQ(sa.sa_handler, SIG_DFL);
}
