/*
 * testlib.c - helpers shared by the bus tests
 */
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "testlib.h"

int test_failures;

static void print_escaped(const char *tag, const char *s)
{
	fprintf(stderr, "  %s: \"", tag);
	for (; s && *s; s++) {
		if (*s == '\n')
			fputs("\\n", stderr);
		else if (*s == '\t')
			fputs("\\t", stderr);
		else if ((unsigned char) *s < 0x20)
			fprintf(stderr, "\\x%02x", (unsigned char) *s);
		else
			fputc(*s, stderr);
	}
	fputs(s ? "\"\n" : "(null)\n", stderr);
}

void check_str(const char *file, int line, const char *expr, const char *got, const char *want)
{
	if (got && want && !strcmp(got, want))
		return;
	fprintf(stderr, "%s:%d: %s differs\n", file, line, expr);
	print_escaped("got ", got);
	print_escaped("want", want);
	test_failures++;
}

static void print_hex(const char *tag, const uint8_t *p, size_t len)
{
	fprintf(stderr, "  %s:", tag);
	for (size_t i = 0; i < len; i++)
		fprintf(stderr, " %02x", p[i]);
	fputc('\n', stderr);
}

void check_mem(const char *file, int line, const char *expr,
	       const void *got, size_t glen, const void *want, size_t wlen)
{
	if (got && glen == wlen && !memcmp(got, want, wlen))
		return;
	fprintf(stderr, "%s:%d: %s differs\n", file, line, expr);
	print_hex("got ", got, got ? glen : 0);
	print_hex("want", want, wlen);
	test_failures++;
}

double now_secs(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

int raw_connect(const char *path)
{
	struct sockaddr_un sun = { .sun_family = AF_UNIX };
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);

	snprintf(sun.sun_path, sizeof(sun.sun_path), "%s", path);
	if (fd >= 0 && connect(fd, (struct sockaddr *) &sun, sizeof(sun)) == 0)
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

const char *tmp_dir(void)
{
	const char *t = getenv("TMPDIR");

	return t && *t ? t : "/tmp";
}

/*
 * A child that ends with the test: a test that crashes leaves no broker or
 * server behind holding its output open, which would hang the run.
 */
static pid_t fork_child(void)
{
	pid_t pid = fork();

	if (pid == 0)
		prctl(PR_SET_PDEATHSIG, SIGKILL);
	return pid;
}

bool broker_start(struct broker *b)
{
	snprintf(b->dir, sizeof(b->dir), "%s/ubus-test.XXXXXX", tmp_dir());
	if (!mkdtemp(b->dir))
		return false;
	snprintf(b->path, sizeof(b->path), "%s/ubus.sock", b->dir);
	return broker_start_at(b);
}

bool broker_start_at(struct broker *b)
{
	b->pid = fork_child();
	if (b->pid == 0) {
		execl(UBUSD_BIN, "ubusd", "-s", b->path, (char *) NULL);
		_exit(127);
	}
	for (int i = 0; i < 2000; i++) {
		int fd = raw_connect(b->path);

		if (fd >= 0) {
			close(fd);
			return true;
		}
		usleep(10000);
	}
	return false;
}

void broker_stop(struct broker *b)
{
	if (b->pid > 0) {
		kill(b->pid, SIGTERM);
		waitpid(b->pid, NULL, 0);
		b->pid = 0;
	}
	unlink(b->path);
	rmdir(b->dir);
}

static void drain(int fd, char **buf, size_t *len)
{
	char tmp[4096];
	ssize_t n = read(fd, tmp, sizeof(tmp));

	if (n <= 0)
		return;
	*buf = realloc(*buf, *len + n + 1);
	memcpy(*buf + *len, tmp, n);
	*len += n;
	(*buf)[*len] = 0;
}

void run(struct result *r, int timeout_ms, const char *const argv[])
{
	int out[2], err[2], status;
	size_t olen = 0, elen = 0;
	double start = now_secs();
	pid_t pid;

	memset(r, 0, sizeof(*r));
	r->out = calloc(1, 1);
	r->err = calloc(1, 1);
	if (pipe(out) || pipe(err)) {
		r->code = -1;
		return;
	}
	pid = fork_child();
	if (pid == 0) {
		dup2(out[1], 1);
		dup2(err[1], 2);
		close(out[0]);
		close(err[0]);
		execv(argv[0], (char *const *) argv);
		_exit(127);
	}
	close(out[1]);
	close(err[1]);
	for (;;) {
		struct pollfd p[2] = { { out[0], POLLIN, 0 }, { err[0], POLLIN, 0 } };
		int left = timeout_ms - (int) ((now_secs() - start) * 1000);

		if (left <= 0) {
			kill(pid, SIGKILL);
			break;
		}
		if (poll(p, 2, left) <= 0)
			continue;
		if (p[0].revents)
			drain(out[0], &r->out, &olen);
		if (p[1].revents)
			drain(err[0], &r->err, &elen);
		if ((p[0].revents & POLLHUP) && (p[1].revents & POLLHUP) &&
		    !(p[0].revents & POLLIN) && !(p[1].revents & POLLIN))
			break;
	}
	waitpid(pid, &status, 0);
	/* whatever is still in the pipes */
	fcntl(out[0], F_SETFL, O_NONBLOCK);
	fcntl(err[0], F_SETFL, O_NONBLOCK);
	drain(out[0], &r->out, &olen);
	drain(err[0], &r->err, &elen);
	close(out[0]);
	close(err[0]);
	r->secs = now_secs() - start;
	r->code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void result_free(struct result *r)
{
	free(r->out);
	free(r->err);
}

pid_t spawn_ready(const char *const argv[], int *out_fd)
{
	int out[2];
	pid_t pid;

	if (pipe(out))
		return -1;
	pid = fork_child();
	if (pid == 0) {
		dup2(out[1], 1);
		close(out[0]);
		execv(argv[0], (char *const *) argv);
		_exit(127);
	}
	close(out[1]);
	*out_fd = out[0];
	if (!wait_line(out[0], "ready", 20000)) {
		kill_wait(pid);
		close(out[0]);
		return -1;
	}
	return pid;
}

bool wait_line(int fd, const char *line, int timeout_ms)
{
	char buf[256];
	size_t len = 0;
	double end = now_secs() + timeout_ms / 1000.0;

	while (now_secs() < end) {
		struct pollfd p = { fd, POLLIN, 0 };
		char c;

		if (poll(&p, 1, (int) ((end - now_secs()) * 1000) + 1) <= 0)
			continue;
		if (read(fd, &c, 1) != 1)
			return false;
		if (c != '\n') {
			if (len < sizeof(buf) - 1)
				buf[len++] = c;
			continue;
		}
		buf[len] = 0;
		if (!strcmp(buf, line))
			return true;
		len = 0;
	}
	return false;
}

bool wait_exit(pid_t pid, int timeout_ms, int *code)
{
	double end = now_secs() + timeout_ms / 1000.0;
	int status;

	do {
		pid_t r = waitpid(pid, &status, WNOHANG);

		if (r == pid) {
			if (code)
				*code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
			return true;
		}
		usleep(5000);
	} while (now_secs() < end);
	return false;
}

void kill_wait(pid_t pid)
{
	if (pid <= 0)
		return;
	kill(pid, SIGKILL);
	waitpid(pid, NULL, 0);
}

size_t unhex(const char *hex, uint8_t *out, size_t max)
{
	size_t n = 0;

	while (*hex && n < max) {
		unsigned int v;

		if (*hex == ' ' || *hex == '|' || *hex == '\n') {
			hex++;
			continue;
		}
		if (sscanf(hex, "%2x", &v) != 1)
			break;
		out[n++] = (uint8_t) v;
		hex += 2;
	}
	return n;
}

void send_hex(int fd, const char *fmt, ...)
{
	char hex[4096];
	uint8_t buf[1024];
	size_t n;
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(hex, sizeof(hex), fmt, ap);
	va_end(ap);
	n = unhex(hex, buf, sizeof(buf));
	if (send(fd, buf, n, MSG_NOSIGNAL) != (ssize_t) n)
		fprintf(stderr, "short send\n");
}
