/*
 * Load on ubus-httpd: N clients, each on one keep-alive HTTP connection,
 * POST batches of B "get_throughput" calls as a logged-in session, one
 * request at a time. Prints calls/s, request latency p50/p99 and failures
 * (HTTP errors, replies without B results of status 0, lost connections).
 *
 * Meanwhile, with -s, one more connection keeps a batch of calls to a
 * (stopped) object's "status" pending, and with -w that many slow clients,
 * 16 from each of the addresses 127.1.x.y, keep a request head open by
 * sending one byte of it every 10 s, connecting again when cut off.
 *
 *   gateway_bench -u http://127.0.0.1:PORT/ -S SID [-c CLIENTS] [-b BATCH] [-t SECONDS]
 *                 [-s SID:OBJECT] [-w SLOW_CLIENTS]
 */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define MAX_SAMPLES	(1 << 20)
#define STALL_CALLS	100
#define SLOW_PER_ADDR	16
#define SLOW_DRIP	10	/* seconds between a slow client's bytes */

struct client {
	pthread_t thread;
	long calls, failures;
	double *lat;
	long n_lat;
};

static struct sockaddr_in addr;
static char request[64 * 1024];
static size_t request_len;
static int batch = 10;
static double deadline;

static double now(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* A connection to the gateway, from FROM when given. */
static int dial_from(const struct sockaddr_in *from)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;

	if (fd < 0)
		return -1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	if ((from && bind(fd, (const struct sockaddr *)from, sizeof(*from))) ||
	    connect(fd, (struct sockaddr *)&addr, sizeof(addr))) {
		close(fd);
		return -1;
	}
	return fd;
}

static int dial(void)
{
	return dial_from(NULL);
}

static int count(const char *hay, size_t len, const char *needle)
{
	size_t n = strlen(needle);
	int c = 0;

	for (const char *p = hay; (p = memmem(p, len - (p - hay), needle, n)); p += n)
		c++;
	return c;
}

/* One request and its whole reply; 0 when it is a good reply. */
static int exchange(int fd, char *buf, size_t size)
{
	size_t have = 0, need = 0;
	char *body = NULL;

	if (write(fd, request, request_len) != (ssize_t)request_len)
		return -1;
	for (;;) {
		ssize_t n = read(fd, buf + have, size - have - 1);

		if (n <= 0)
			return -1;
		have += n;
		buf[have] = '\0';
		if (!body && (body = strstr(buf, "\r\n\r\n"))) {
			char *cl = strcasestr(buf, "\r\nContent-Length:");

			if (!cl || strncmp(buf, "HTTP/1.1 200", 12))
				return -1;
			body += 4;
			need = (body - buf) + strtoul(cl + 17, NULL, 10);
		}
		if (body && have >= need)
			break;
		if (have + 1 >= size)
			return -1;
	}
	return count(body, have - (body - buf), "\"result\":[0,{\"interface1_tx\"") == batch ? 0 : -1;
}

static void *run(void *arg)
{
	struct client *c = arg;
	static __thread char buf[256 * 1024];
	int fd = dial();

	while (now() < deadline) {
		double t0 = now();

		if (fd < 0 || exchange(fd, buf, sizeof(buf))) {
			c->failures += batch;
			if (fd >= 0)
				close(fd);
			fd = dial();
			continue;
		}
		c->calls += batch;
		if (c->n_lat < MAX_SAMPLES)
			c->lat[c->n_lat++] = now() - t0;
	}
	if (fd >= 0)
		close(fd);
	return NULL;
}

/* A POST of BODY to the endpoint, head and body, in buf: its length, or 0. */
static size_t post(char *buf, size_t size, const char *body)
{
	int n = snprintf(buf, size, "POST /ubus/ HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
			 "Content-Length: %zu\r\n\r\n%s", strlen(body), body);

	return n > 0 && (size_t)n < size ? (size_t)n : 0;
}

static char stall_request[32 * 1024];
static size_t stall_len;

static int build_stall(const char *target)
{
	char sid[64], object[64], body[24 * 1024];
	size_t len = 0;
	int i;

	if (sscanf(target, "%63[0-9a-f]:%63s", sid, object) != 2)
		return -1;
	body[len++] = '[';
	for (i = 0; i < STALL_CALLS; i++) {
		int n = snprintf(body + len, sizeof(body) - len,
				 "%s{\"jsonrpc\":\"2.0\",\"id\":%d,\"method\":\"call\",\"params\":[\"%s\",\"%s\",\"status\",{}]}",
				 i ? "," : "", i, sid, object);
		if (n < 0 || (size_t)n >= sizeof(body) - len - 2)
			return -1;
		len += n;
	}
	body[len++] = ']';
	body[len] = '\0';
	stall_len = post(stall_request, sizeof(stall_request), body);
	return stall_len ? 0 : -1;
}

/* Keeps the stalling batch posted: again whenever it is answered or cut off. */
static void *stall(void *arg)
{
	char buf[64 * 1024];
	int fd = -1;

	while (now() < deadline) {
		struct pollfd p;

		if (fd < 0) {
			fd = dial();
			if (fd < 0 || write(fd, stall_request, stall_len) != (ssize_t)stall_len) {
				if (fd >= 0)
					close(fd);
				fd = -1;
				usleep(100000);
				continue;
			}
		}
		p = (struct pollfd) { .fd = fd, .events = POLLIN };
		if (poll(&p, 1, 100) > 0 && read(fd, buf, sizeof(buf)) >= 0) {
			close(fd);
			fd = -1;
		}
	}
	if (fd >= 0)
		close(fd);
	return NULL;
}

static int slow_clients, slow_started;
static long slow_open, slow_reopened;

static int slow_dial(int i)
{
	static const char head[] = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ";
	struct sockaddr_in from = { .sin_family = AF_INET };
	int n = i / SLOW_PER_ADDR, fd;

	from.sin_addr.s_addr = htonl((127u << 24) | (1u << 16) | ((n / 250) << 8) | (n % 250 + 1));
	fd = dial_from(&from);
	if (fd < 0)
		return -1;
	if (write(fd, head, sizeof(head) - 1) != (ssize_t)(sizeof(head) - 1)) {
		close(fd);
		return -1;
	}
	fcntl(fd, F_SETFL, O_NONBLOCK);
	return fd;
}

/* Slow clients, one byte of their head every SLOW_DRIP seconds. */
static void *slow(void *arg)
{
	struct pollfd *p = calloc(slow_clients, sizeof(*p));
	double drip = now() + SLOW_DRIP;
	char buf[4096];
	int i;

	for (i = 0; i < slow_clients; i++)
		p[i] = (struct pollfd) { .fd = slow_dial(i), .events = POLLIN };
	__atomic_store_n(&slow_started, 1, __ATOMIC_RELEASE);
	while (now() < deadline) {
		poll(p, slow_clients, 100);
		for (i = 0; i < slow_clients; i++) {
			if (p[i].fd >= 0 && !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
				continue;
			if (p[i].fd >= 0 && read(p[i].fd, buf, sizeof(buf)) > 0)
				continue;
			if (p[i].fd >= 0)
				close(p[i].fd);
			p[i].fd = slow_dial(i);
			slow_reopened += p[i].fd >= 0;
		}
		if (now() < drip)
			continue;
		drip += SLOW_DRIP;
		for (i = 0; i < slow_clients; i++)
			if (p[i].fd >= 0 && write(p[i].fd, "X", 1) < 0)
				continue;
	}
	for (i = 0; i < slow_clients; i++) {
		slow_open += p[i].fd >= 0;
		if (p[i].fd >= 0)
			close(p[i].fd);
	}
	free(p);
	return NULL;
}

/* Room for the slow clients' descriptors. */
static void more_files(void)
{
	struct rlimit rl;

	if (!getrlimit(RLIMIT_NOFILE, &rl) && rl.rlim_cur < rl.rlim_max) {
		rl.rlim_cur = rl.rlim_max;
		setrlimit(RLIMIT_NOFILE, &rl);
	}
}

static int cmp_double(const void *a, const void *b)
{
	double x = *(const double *)a, y = *(const double *)b;

	return (x > y) - (x < y);
}

static int build_request(const char *sid)
{
	char body[48 * 1024];
	size_t len = 0;
	int i;

	body[len++] = '[';
	for (i = 0; i < batch; i++) {
		int n = snprintf(body + len, sizeof(body) - len,
				 "%s{\"jsonrpc\":\"2.0\",\"id\":%d,\"method\":\"call\",\"params\":[\"%s\",\"veloxd\",\"get_throughput\",{}]}",
				 i ? "," : "", i + 1, sid);
		if (n < 0 || (size_t)n >= sizeof(body) - len - 2)
			return -1;
		len += n;
	}
	body[len++] = ']';
	body[len] = '\0';
	request_len = post(request, sizeof(request), body);
	return request_len ? 0 : -1;
}

int main(int argc, char **argv)
{
	const char *sid = NULL, *stall_spec = NULL;
	char host[64] = "";
	int clients = 1, seconds = 5, port = 0, opt, i;
	long calls = 0, failures = 0, n_lat = 0;
	pthread_t stall_thread, slow_thread;
	struct client *cs;
	double *all, t0, secs;

	while ((opt = getopt(argc, argv, "u:S:c:b:t:s:w:")) != -1) {
		switch (opt) {
		case 'u':
			if (sscanf(optarg, "http://%63[0-9.]:%d", host, &port) != 2)
				goto usage;
			break;
		case 'S':
			sid = optarg;
			break;
		case 'c':
			clients = atoi(optarg);
			break;
		case 'b':
			batch = atoi(optarg);
			break;
		case 't':
			seconds = atoi(optarg);
			break;
		case 's':
			stall_spec = optarg;
			break;
		case 'w':
			slow_clients = atoi(optarg);
			break;
		default:
			goto usage;
		}
	}
	if (!sid || !port || clients < 1 || batch < 1 || seconds < 1 || slow_clients < 0)
		goto usage;
	addr.sin_family = AF_INET;
	addr.sin_port = htons(port);
	if (inet_pton(AF_INET, host, &addr.sin_addr) != 1 || build_request(sid) ||
	    (stall_spec && build_stall(stall_spec)))
		goto usage;

	/* the load is in place for a second before the clients start */
	more_files();
	deadline = now() + 1 + seconds;
	if (stall_spec)
		pthread_create(&stall_thread, NULL, stall, NULL);
	if (slow_clients)
		pthread_create(&slow_thread, NULL, slow, NULL);
	usleep(1000000);
	while (slow_clients && !__atomic_load_n(&slow_started, __ATOMIC_ACQUIRE))
		usleep(10000);

	cs = calloc(clients, sizeof(*cs));
	for (i = 0; i < clients; i++)
		cs[i].lat = malloc(MAX_SAMPLES * sizeof(double));
	t0 = now();
	deadline = t0 + seconds;
	for (i = 0; i < clients; i++)
		pthread_create(&cs[i].thread, NULL, run, &cs[i]);
	for (i = 0; i < clients; i++)
		pthread_join(cs[i].thread, NULL);
	secs = now() - t0;
	if (stall_spec)
		pthread_join(stall_thread, NULL);
	if (slow_clients)
		pthread_join(slow_thread, NULL);

	all = malloc((size_t)clients * MAX_SAMPLES * sizeof(double));
	for (i = 0; i < clients; i++) {
		memcpy(all + n_lat, cs[i].lat, cs[i].n_lat * sizeof(double));
		n_lat += cs[i].n_lat;
		calls += cs[i].calls;
		failures += cs[i].failures;
	}
	qsort(all, n_lat, sizeof(double), cmp_double);
	printf("clients %2d  batch %3d  calls/s %8.0f  request p50 %7.3f ms  p99 %7.3f ms  failures %ld\n",
	       clients, batch, calls / secs, n_lat ? all[n_lat / 2] * 1e3 : 0,
	       n_lat ? all[n_lat * 99 / 100] * 1e3 : 0, failures);
	if (stall_spec || slow_clients)
		printf("  meanwhile: %d calls pending to %s; %ld of %d slow clients connected at the end, %ld cut off and back\n",
		       stall_spec ? STALL_CALLS : 0, stall_spec ? strchr(stall_spec, ':') + 1 : "-",
		       slow_open, slow_clients, slow_reopened);
	return failures ? 1 : 0;
usage:
	fprintf(stderr, "usage: %s -u http://ADDR:PORT/ -S SID [-c CLIENTS] [-b BATCH] [-t SECONDS]\n"
		"       [-s SID:OBJECT] [-w SLOW_CLIENTS]\n", argv[0]);
	return 2;
}
