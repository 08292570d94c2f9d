/*
 * Load on ubus-httpd: N clients, each on one keep-alive HTTP connection,
 * POST batches of B "get_throughput" calls as a logged-in session, one
 * request at a time. Prints calls/s, request latency p50/p99 and failures
 * (HTTP errors, replies without B results of status 0, lost connections).
 *
 *   gateway_bench -u http://127.0.0.1:PORT/ -S SID [-c CLIENTS] [-b BATCH] [-t SECONDS]
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define MAX_SAMPLES	(1 << 20)

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

static int dial(void)
{
	int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;

	if (fd < 0)
		return -1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	if (connect(fd, (struct sockaddr *)&addr, sizeof(addr))) {
		close(fd);
		return -1;
	}
	return fd;
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

static int cmp_double(const void *a, const void *b)
{
	double x = *(const double *)a, y = *(const double *)b;

	return (x > y) - (x < y);
}

static int build_request(const char *sid, const char *host, int port)
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
	request_len = snprintf(request, sizeof(request),
			       "POST /ubus/ HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: application/json\r\n"
			       "Content-Length: %zu\r\n\r\n%s", host, port, len, body);
	return request_len < sizeof(request) ? 0 : -1;
}

int main(int argc, char **argv)
{
	const char *sid = NULL;
	char host[64] = "";
	int clients = 1, seconds = 5, port = 0, opt, i;
	long calls = 0, failures = 0, n_lat = 0;
	struct client *cs;
	double *all, t0, secs;

	while ((opt = getopt(argc, argv, "u:S:c:b:t:")) != -1) {
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
		default:
			goto usage;
		}
	}
	if (!sid || !port || clients < 1 || batch < 1 || seconds < 1)
		goto usage;
	addr.sin_family = AF_INET;
	addr.sin_port = htons(port);
	if (inet_pton(AF_INET, host, &addr.sin_addr) != 1 || build_request(sid, host, port))
		goto usage;

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
	return failures ? 1 : 0;
usage:
	fprintf(stderr, "usage: %s -u http://ADDR:PORT/ -S SID [-c CLIENTS] [-b BATCH] [-t SECONDS]\n", argv[0]);
	return 2;
}
