/*
 * uloop.c - event loop on epoll
 *
 * Signals are turned into bytes on a self-pipe, so a signal that lands between
 * the cancellation check and epoll_wait still wakes the loop.
 */
#include "libubox/uloop.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <sys/wait.h>

#define ULOOP_MAX_EVENTS 10
#define N_ELEMS(a) (sizeof(a) / sizeof((a)[0]))

struct uloop_fd_event {
	struct uloop_fd *fd;
	unsigned int events;
};

bool uloop_cancelled = false;
bool uloop_handle_sigchld = true;
uloop_fd_handler uloop_fd_set_cb = NULL;

static int poll_fd = -1;
static int waker_pipe[2] = { -1, -1 };
static struct uloop_fd waker_fd;
static volatile sig_atomic_t uloop_status;
static volatile sig_atomic_t do_sigchld;
static int uloop_run_depth;

static struct list_head timeouts = LIST_HEAD_INIT(timeouts);
static struct list_head processes = LIST_HEAD_INIT(processes);
static struct list_head signals = LIST_HEAD_INIT(signals);

static struct uloop_fd_event cur_fds[ULOOP_MAX_EVENTS];
static int cur_fd, cur_nfds;

struct uloop_saved_sig {
	int signo;
	void (*handler)(int);
	struct sigaction orig;
	bool installed;
};

static void uloop_handle_sig(int signo);
static void uloop_sigchld(int signo);

static struct uloop_saved_sig saved_sigs[] = {
	{ .signo = SIGINT, .handler = uloop_handle_sig },
	{ .signo = SIGTERM, .handler = uloop_handle_sig },
	{ .signo = SIGCHLD, .handler = uloop_sigchld },
};

/* ---- wake-up pipe and signal handlers ---- */

static void
uloop_wake(unsigned char what)
{
	int saved_errno = errno;

	if (waker_pipe[1] >= 0) {
		ssize_t r = write(waker_pipe[1], &what, 1);
		(void) r;
	}
	errno = saved_errno;
}

static void
uloop_handle_sig(int signo)
{
	uloop_status = signo;
	uloop_cancelled = true;
	uloop_wake(0);
}

static void
uloop_sigchld(int signo)
{
	do_sigchld = 1;
	uloop_wake(0);
}

static void
uloop_signal_wake(int signo)
{
	uloop_wake((unsigned char) signo);
}

static void
uloop_dispatch_signal(int signo)
{
	struct uloop_signal *s, *tmp;

	list_for_each_entry_safe(s, tmp, &signals, list) {
		if (s->signo == signo && s->cb)
			s->cb(s);
	}
}

static void
waker_consume(struct uloop_fd *fd, unsigned int events)
{
	unsigned char buf[64];
	ssize_t n, i;

	while ((n = read(fd->fd, buf, sizeof(buf))) > 0) {
		for (i = 0; i < n; i++) {
			if (buf[i])
				uloop_dispatch_signal(buf[i]);
		}
	}
}

static void
uloop_install_handler(struct uloop_saved_sig *s)
{
	struct sigaction sa;

	if (sigaction(s->signo, NULL, &s->orig) < 0)
		return;
	/* a caller's own handler or SIG_IGN stays */
	if ((s->orig.sa_flags & SA_SIGINFO) || s->orig.sa_handler != SIG_DFL)
		return;

	memset(&sa, 0, sizeof(sa));
	sa.sa_handler = s->handler;
	sa.sa_flags = 0;
	sigemptyset(&sa.sa_mask);
	if (sigaction(s->signo, &sa, NULL) == 0)
		s->installed = true;
}

static void
uloop_restore_handler(struct uloop_saved_sig *s)
{
	struct sigaction cur;

	if (!s->installed)
		return;
	s->installed = false;

	if (sigaction(s->signo, NULL, &cur) < 0)
		return;
	if ((cur.sa_flags & SA_SIGINFO) || cur.sa_handler != s->handler)
		return;

	sigaction(s->signo, &s->orig, NULL);
}

static void
uloop_setup_signals(void)
{
	struct sigaction sa;
	size_t i;

	for (i = 0; i < N_ELEMS(saved_sigs); i++) {
		if (saved_sigs[i].signo == SIGCHLD && !uloop_handle_sigchld)
			continue;
		uloop_install_handler(&saved_sigs[i]);
	}

	if (sigaction(SIGPIPE, NULL, &sa) == 0 &&
	    !(sa.sa_flags & SA_SIGINFO) && sa.sa_handler == SIG_DFL) {
		sa.sa_handler = SIG_IGN;
		sa.sa_flags = 0;
		sigemptyset(&sa.sa_mask);
		sigaction(SIGPIPE, &sa, NULL);
	}
}

/* ---- fds ---- */

int
uloop_fd_delete(struct uloop_fd *fd)
{
	int i;

	/* events already fetched for this fd must not be dispatched any more */
	for (i = cur_fd; i < cur_nfds; i++) {
		if (cur_fds[i].fd == fd)
			cur_fds[i].fd = NULL;
	}

	if (!fd->registered)
		return 0;

	if (uloop_fd_set_cb)
		uloop_fd_set_cb(fd, 0);

	fd->registered = false;
	fd->flags = 0;
	return epoll_ctl(poll_fd, EPOLL_CTL_DEL, fd->fd, NULL);
}

int
uloop_fd_add(struct uloop_fd *sock, unsigned int flags)
{
	struct epoll_event ev;
	int op;

	if (!(flags & (ULOOP_READ | ULOOP_WRITE)))
		return uloop_fd_delete(sock);

	if (poll_fd < 0) {
		errno = EBADF;
		return -1;
	}

	if (!sock->registered && !(flags & ULOOP_BLOCKING)) {
		int fl = fcntl(sock->fd, F_GETFL);

		if (fl >= 0 && !(fl & O_NONBLOCK))
			fcntl(sock->fd, F_SETFL, fl | O_NONBLOCK);
	}

	memset(&ev, 0, sizeof(ev));
	if (flags & ULOOP_READ)
		ev.events |= EPOLLIN | EPOLLRDHUP;
	if (flags & ULOOP_WRITE)
		ev.events |= EPOLLOUT;
	if (flags & ULOOP_EDGE_TRIGGER)
		ev.events |= EPOLLET;
	ev.data.ptr = sock;

	op = sock->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
	if (epoll_ctl(poll_fd, op, sock->fd, &ev) < 0)
		return -1;

	sock->flags = flags;
	sock->registered = true;
	sock->eof = false;
	sock->error = false;

	if (uloop_fd_set_cb)
		uloop_fd_set_cb(sock, flags);

	return 0;
}

static void
uloop_fetch_events(int timeout)
{
	struct epoll_event events[ULOOP_MAX_EVENTS];
	int n, i;

	cur_fd = cur_nfds = 0;
	n = epoll_wait(poll_fd, events, ULOOP_MAX_EVENTS, timeout);
	if (n <= 0)
		return;

	for (i = 0; i < n; i++) {
		struct uloop_fd *u = events[i].data.ptr;
		uint32_t e = events[i].events;
		unsigned int ev = 0;

		cur_fds[i].fd = NULL;
		cur_fds[i].events = 0;
		if (!u)
			continue;

		if (e & (EPOLLERR | EPOLLHUP)) {
			u->error = true;
			if (!(u->flags & ULOOP_ERROR_CB))
				uloop_fd_delete(u);
		}

		if (!(e & (EPOLLRDHUP | EPOLLIN | EPOLLOUT | EPOLLERR | EPOLLHUP)))
			continue;

		if (e & EPOLLRDHUP)
			u->eof = true;
		if (e & EPOLLIN)
			ev |= ULOOP_READ;
		if (e & EPOLLOUT)
			ev |= ULOOP_WRITE;

		cur_fds[i].fd = u;
		cur_fds[i].events = ev;
	}
	cur_nfds = n;
}

static void
uloop_dispatch_one(void)
{
	while (cur_fd < cur_nfds) {
		struct uloop_fd_event *e = &cur_fds[cur_fd++];
		struct uloop_fd *u = e->fd;

		if (!u)
			continue;
		e->fd = NULL;
		if (u->cb)
			u->cb(u, e->events);
		return;
	}
}

/* ---- timeouts ---- */

static void
uloop_gettime(struct timeval *tv)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	tv->tv_sec = ts.tv_sec;
	tv->tv_usec = ts.tv_nsec / 1000;
}

/* t1 - t2 in milliseconds, truncated towards zero */
static int64_t
tv_diff(const struct timeval *t1, const struct timeval *t2)
{
	int64_t us = ((int64_t) t1->tv_sec - t2->tv_sec) * 1000000 +
		     ((int64_t) t1->tv_usec - t2->tv_usec);
	return us / 1000;
}

int
uloop_timeout_add(struct uloop_timeout *timeout)
{
	struct uloop_timeout *tmp;
	struct list_head *h = &timeouts;

	if (timeout->pending)
		return -1;

	/* equal deadlines keep the order they were added in */
	list_for_each_entry(tmp, &timeouts, list) {
		if (timercmp(&tmp->time, &timeout->time, >)) {
			h = &tmp->list;
			break;
		}
	}

	list_add_tail(&timeout->list, h);
	timeout->pending = true;
	return 0;
}

int
uloop_timeout_set(struct uloop_timeout *timeout, int msecs)
{
	struct timeval *time = &timeout->time;

	if (timeout->pending)
		uloop_timeout_cancel(timeout);

	uloop_gettime(time);
	time->tv_sec += msecs / 1000;
	time->tv_usec += (msecs % 1000) * 1000;
	while (time->tv_usec >= 1000000) {
		time->tv_sec++;
		time->tv_usec -= 1000000;
	}
	while (time->tv_usec < 0) {
		time->tv_sec--;
		time->tv_usec += 1000000;
	}

	return uloop_timeout_add(timeout);
}

int
uloop_timeout_cancel(struct uloop_timeout *timeout)
{
	if (!timeout->pending)
		return -1;

	list_del(&timeout->list);
	timeout->pending = false;
	return 0;
}

int64_t
uloop_timeout_remaining64(struct uloop_timeout *timeout)
{
	struct timeval now;

	if (!timeout->pending)
		return -1;

	uloop_gettime(&now);
	return tv_diff(&timeout->time, &now);
}

int
uloop_timeout_remaining(struct uloop_timeout *timeout)
{
	int64_t td = uloop_timeout_remaining64(timeout);

	if (td > INT_MAX)
		return INT_MAX;
	if (td < INT_MIN)
		return INT_MIN;
	return (int) td;
}

int
uloop_get_next_timeout(void)
{
	struct uloop_timeout *timeout;
	struct timeval now;
	int64_t diff;

	if (list_empty(&timeouts))
		return -1;

	uloop_gettime(&now);
	timeout = list_first_entry(&timeouts, struct uloop_timeout, list);
	diff = tv_diff(&timeout->time, &now);
	if (diff < 0)
		return 0;
	if (diff > INT_MAX)
		return INT_MAX;
	return (int) diff;
}

static void
uloop_process_timeouts(void)
{
	struct list_head due = LIST_HEAD_INIT(due);
	struct uloop_timeout *t;
	struct timeval now;

	if (list_empty(&timeouts))
		return;

	/*
	 * Take this pass's due timers off first: a timer re-armed from its
	 * callback waits for the next pass, and one cancelled by another
	 * callback simply leaves the local list.
	 */
	uloop_gettime(&now);
	while (!list_empty(&timeouts)) {
		t = list_first_entry(&timeouts, struct uloop_timeout, list);
		if (tv_diff(&t->time, &now) > 0)
			break;
		list_move_tail(&t->list, &due);
	}

	while (!list_empty(&due)) {
		t = list_first_entry(&due, struct uloop_timeout, list);
		uloop_timeout_cancel(t);
		if (t->cb)
			t->cb(t);
	}
}

/* ---- child processes ---- */

int
uloop_process_add(struct uloop_process *p)
{
	if (p->pending)
		return -1;

	list_add_tail(&p->list, &processes);
	p->pending = true;
	return 0;
}

int
uloop_process_delete(struct uloop_process *p)
{
	if (!p->pending)
		return -1;

	list_del(&p->list);
	p->pending = false;
	return 0;
}

static void
uloop_handle_processes(void)
{
	struct uloop_process *p, *tmp;
	pid_t pid;
	int ret;

	do_sigchld = 0;

	for (;;) {
		pid = waitpid(-1, &ret, WNOHANG);
		if (pid < 0 && errno == EINTR)
			continue;
		if (pid <= 0)
			return;

		list_for_each_entry_safe(p, tmp, &processes, list) {
			if (p->pid != pid)
				continue;

			uloop_process_delete(p);
			if (p->cb)
				p->cb(p, ret);
			break;
		}
	}
}

/* ---- intervals (timerfd) ---- */

static void
uloop_interval_expired(struct uloop_fd *u, unsigned int events)
{
	struct uloop_interval *timer = container_of(u, struct uloop_interval, priv.ufd);
	uint64_t count = 0;

	if (read(u->fd, &count, sizeof(count)) != sizeof(count))
		return;

	timer->expirations += count;
	if (timer->cb)
		timer->cb(timer);
}

int
uloop_interval_set(struct uloop_interval *timer, unsigned int msecs)
{
	struct itimerspec its;
	struct uloop_fd *u = &timer->priv.ufd;

	if (!u->registered) {
		int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);

		if (fd < 0)
			return -1;

		u->fd = fd;
		u->cb = uloop_interval_expired;
		if (uloop_fd_add(u, ULOOP_READ) < 0) {
			close(fd);
			u->fd = -1;
			return -1;
		}
	}

	memset(&its, 0, sizeof(its));
	its.it_value.tv_sec = msecs / 1000;
	its.it_value.tv_nsec = (msecs % 1000) * 1000000L;
	its.it_interval = its.it_value;
	if (timerfd_settime(u->fd, 0, &its, NULL) < 0) {
		uloop_interval_cancel(timer);
		return -1;
	}

	timer->expirations = 0;
	return 0;
}

int
uloop_interval_cancel(struct uloop_interval *timer)
{
	struct uloop_fd *u = &timer->priv.ufd;

	if (!u->registered)
		return -1;

	uloop_fd_delete(u);
	close(u->fd);
	u->fd = -1;
	return 0;
}

int64_t
uloop_interval_remaining(struct uloop_interval *timer)
{
	struct itimerspec its;
	struct uloop_fd *u = &timer->priv.ufd;

	if (!u->registered)
		return -1;
	if (timerfd_gettime(u->fd, &its) < 0)
		return -1;

	return (int64_t) its.it_value.tv_sec * 1000 + its.it_value.tv_nsec / 1000000;
}

/* ---- signals delivered through the loop ---- */

int
uloop_signal_add(struct uloop_signal *s)
{
	struct sigaction sa;

	if (s->pending)
		return -1;
	if (s->signo <= 0 || s->signo > 255)
		return -1;

	if (sigaction(s->signo, NULL, &s->orig) < 0)
		return -1;

	if ((s->orig.sa_flags & SA_SIGINFO) || s->orig.sa_handler != uloop_signal_wake) {
		memset(&sa, 0, sizeof(sa));
		sa.sa_handler = uloop_signal_wake;
		sa.sa_flags = SA_RESTART;
		sigemptyset(&sa.sa_mask);
		if (sigaction(s->signo, &sa, NULL) < 0)
			return -1;
	}

	list_add(&s->list, &signals);
	s->pending = true;
	return 0;
}

int
uloop_signal_delete(struct uloop_signal *s)
{
	struct uloop_signal *tmp;

	if (!s->pending)
		return -1;

	list_del(&s->list);
	s->pending = false;

	list_for_each_entry(tmp, &signals, list) {
		if (tmp->signo == s->signo)
			return 0;
	}

	/* last watcher of this signal: put back what was there before uloop */
	if (!(s->orig.sa_flags & SA_SIGINFO) && s->orig.sa_handler == uloop_signal_wake) {
		struct sigaction sa;

		memset(&sa, 0, sizeof(sa));
		sa.sa_handler = SIG_DFL;
		sigemptyset(&sa.sa_mask);
		sigaction(s->signo, &sa, NULL);
	} else {
		sigaction(s->signo, &s->orig, NULL);
	}
	return 0;
}

/* ---- loop ---- */

int
uloop_init(void)
{
	if (poll_fd >= 0)
		return 0;

	poll_fd = epoll_create1(EPOLL_CLOEXEC);
	if (poll_fd < 0)
		return -1;

	if (pipe2(waker_pipe, O_NONBLOCK | O_CLOEXEC) < 0) {
		close(poll_fd);
		poll_fd = -1;
		return -1;
	}

	memset(&waker_fd, 0, sizeof(waker_fd));
	waker_fd.fd = waker_pipe[0];
	waker_fd.cb = waker_consume;
	if (uloop_fd_add(&waker_fd, ULOOP_READ) < 0) {
		close(waker_pipe[0]);
		close(waker_pipe[1]);
		waker_pipe[0] = waker_pipe[1] = -1;
		close(poll_fd);
		poll_fd = -1;
		return -1;
	}

	uloop_setup_signals();
	return 0;
}

bool
uloop_cancelling(void)
{
	return uloop_run_depth > 0 && uloop_cancelled;
}

int
uloop_run_timeout(int timeout)
{
	int next_time;

	uloop_run_depth++;
	uloop_status = 0;
	uloop_cancelled = false;

	do {
		uloop_process_timeouts();

		if (do_sigchld)
			uloop_handle_processes();

		if (uloop_cancelled)
			break;

		/* fetched events are used up before waiting again */
		if (cur_fd >= cur_nfds) {
			next_time = uloop_get_next_timeout();
			if (timeout >= 0 && (next_time < 0 || timeout < next_time))
				next_time = timeout;
			if (poll_fd >= 0)
				uloop_fetch_events(next_time);
			else
				poll(NULL, 0, next_time);
		}
		uloop_dispatch_one();
	} while (!uloop_cancelled && timeout < 0);

	uloop_run_depth--;
	return uloop_status;
}

void
uloop_done(void)
{
	struct uloop_timeout *t, *ttmp;
	struct uloop_process *p, *ptmp;
	size_t i;

	for (i = 0; i < N_ELEMS(saved_sigs); i++)
		uloop_restore_handler(&saved_sigs[i]);

	if (poll_fd >= 0) {
		close(poll_fd);
		poll_fd = -1;
	}
	if (waker_pipe[0] >= 0) {
		close(waker_pipe[0]);
		close(waker_pipe[1]);
		waker_pipe[0] = waker_pipe[1] = -1;
	}
	memset(&waker_fd, 0, sizeof(waker_fd));
	cur_fd = cur_nfds = 0;

	list_for_each_entry_safe(t, ttmp, &timeouts, list)
		uloop_timeout_cancel(t);

	list_for_each_entry_safe(p, ptmp, &processes, list)
		uloop_process_delete(p);
}
