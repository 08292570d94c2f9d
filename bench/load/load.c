/*
 * veloxd_load: N concurrent bus clients calling "get_throughput" and
 * "get_lan_port_info" on veloxd in loops for a fixed time. Prints calls/s,
 * latency p50/p99 and the count of failed or malformed replies.
 *
 * Usage: veloxd_load [-s socket] [-c clients] [-t seconds] [-f]
 * Each client is its own process with its own bus connection.
 * -f first prints the machine's floor: one round trip between two processes
 * over a Unix socket. A bus call is at least two of those (client to ubusd
 * to veloxd and back), so it bounds what one client can reach here.
 */
#define _GNU_SOURCE
#include <getopt.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <libubox/blobmsg.h>
#include <libubus.h>

#define HIST_US 100000 /* 1 us buckets up to 100 ms, then one overflow bucket */
#define CALL_TIMEOUT_MS 5000

struct client_result {
	uint64_t calls;
	uint64_t failed;    /* bus status not 0, no reply, or a timeout */
	uint64_t malformed; /* a reply without the expected fields, order or text */
	uint32_t hist[HIST_US + 1];
};

struct call_state {
	int replies;
	bool good;
	int kind;
};

static const char *const throughput_fields[] = {
	"interface1_tx", "interface1_rx", "interface2_tx", "interface2_rx",
};
static const char *const port_fields[] = {
	"tx_packets", "tx_bytes", "rx_packets", "rx_bytes", "tx_speed", "rx_speed",
};

static bool is_count(const char *s)
{
	if (!*s)
		return false;
	for (; *s; s++)
		if (*s < '0' || *s > '9')
			return false;
	return true;
}

static bool is_speed(const char *s)
{
	const char *dot = strchr(s, '.');

	if (!dot || dot == s || strlen(dot) != 3)
		return false;
	for (const char *p = s; *p; p++)
		if (p != dot && (*p < '0' || *p > '9'))
			return false;
	return true;
}

/* The reply must hold exactly these string fields, in this order. */
static bool check_fields(struct blob_attr *msg, const char *const *names, int n, int first_speed)
{
	struct blob_attr *cur;
	size_t rem;
	int i = 0;

	blobmsg_for_each_attr(cur, msg, rem) {
		if (i >= n || blobmsg_type(cur) != BLOBMSG_TYPE_STRING ||
		    strcmp(blobmsg_name(cur), names[i]) != 0)
			return false;
		const char *v = blobmsg_get_string(cur);
		if (!(i >= first_speed ? is_speed(v) : is_count(v)))
			return false;
		i++;
	}
	return i == n;
}

static void on_data(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct call_state *st = req->priv;

	st->replies++;
	if (st->kind == 0)
		st->good = check_fields(msg, throughput_fields, 4, 0);
	else
		st->good = check_fields(msg, port_fields, 6, 4);
}

static uint64_t now_ns(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

static void run_client(const char *sock, double seconds, int seed, struct client_result *res)
{
	static const int slots[] = { 0, 1, 2, 9 };
	struct ubus_context *ctx = ubus_connect(sock);
	struct blob_buf args[4];
	uint32_t id;

	if (!ctx || ubus_lookup_id(ctx, "veloxd", &id) != 0) {
		res->failed++;
		return;
	}
	memset(args, 0, sizeof(args));
	for (int i = 0; i < 4; i++) {
		blob_buf_init(&args[i], 0);
		blobmsg_add_u32(&args[i], "interface1", (uint32_t)slots[i]);
	}

	uint64_t end = now_ns() + (uint64_t)(seconds * 1e9);
	for (uint64_t n = (uint64_t)seed; now_ns() < end; n++) {
		struct call_state st = { 0, false, (int)(n & 1) };
		uint64_t t0 = now_ns();
		int ret;

		if (st.kind == 0)
			ret = ubus_invoke(ctx, id, "get_throughput", NULL, on_data, &st, CALL_TIMEOUT_MS);
		else
			ret = ubus_invoke(ctx, id, "get_lan_port_info", args[(n >> 1) & 3].head,
					  on_data, &st, CALL_TIMEOUT_MS);
		uint64_t us = (now_ns() - t0) / 1000;

		res->calls++;
		res->hist[us < HIST_US ? us : HIST_US]++;
		if (ret != 0 || st.replies == 0)
			res->failed++;
		else if (st.replies != 1 || !st.good)
			res->malformed++;
	}
	for (int i = 0; i < 4; i++)
		blob_buf_free(&args[i]);
	ubus_free(ctx);
}

static double percentile(const uint64_t *hist, uint64_t total, double p)
{
	uint64_t want = (uint64_t)(p * (double)total), seen = 0;

	for (int us = 0; us <= HIST_US; us++) {
		seen += hist[us];
		if (seen > want)
			return us;
	}
	return HIST_US;
}

static void print_ipc_floor(void)
{
	enum { ROUNDS = 20000 };
	int sv[2];
	char c = 0;

	if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
		perror("socketpair");
		return;
	}
	pid_t pid = fork();
	if (pid < 0) {
		perror("fork");
		return;
	}
	if (pid == 0) {
		close(sv[0]);
		while (read(sv[1], &c, 1) == 1 && write(sv[1], &c, 1) == 1)
			;
		_exit(0);
	}
	close(sv[1]);
	uint64_t t0 = now_ns();
	for (int i = 0; i < ROUNDS; i++)
		if (write(sv[0], &c, 1) != 1 || read(sv[0], &c, 1) != 1)
			break;
	double us = (double)(now_ns() - t0) / 1000.0 / ROUNDS;
	close(sv[0]);
	waitpid(pid, NULL, 0);
	printf("floor: unix socket round trip between two processes %.1f us; a bus call needs two (<= %.0f calls/s)\n",
	       us, 1e6 / (2 * us));
}

int main(int argc, char **argv)
{
	const char *sock = "/var/run/ubus.sock";
	int clients = 1, opt;
	double seconds = 5;
	bool floor = false;

	while ((opt = getopt(argc, argv, "s:c:t:f")) != -1) {
		switch (opt) {
		case 's': sock = optarg; break;
		case 'c': clients = atoi(optarg); break;
		case 't': seconds = atof(optarg); break;
		case 'f': floor = true; break;
		default:
			fprintf(stderr, "Usage: %s [-s socket] [-c clients] [-t seconds] [-f]\n", argv[0]);
			return 2;
		}
	}
	if (clients < 1 || clients > 256 || seconds <= 0) {
		fprintf(stderr, "clients 1..256, seconds > 0\n");
		return 2;
	}

	if (floor)
		print_ipc_floor();

	size_t size = sizeof(struct client_result) * (size_t)clients;
	struct client_result *res = mmap(NULL, size, PROT_READ | PROT_WRITE,
					 MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	if (res == MAP_FAILED) {
		perror("mmap");
		return 1;
	}
	memset(res, 0, size);

	uint64_t t0 = now_ns();
	for (int i = 0; i < clients; i++) {
		pid_t pid = fork();
		if (pid < 0) {
			perror("fork");
			return 1;
		}
		if (pid == 0) {
			run_client(sock, seconds, i, &res[i]);
			_exit(0);
		}
	}
	for (int i = 0; i < clients; i++)
		wait(NULL);
	double elapsed = (double)(now_ns() - t0) / 1e9;

	static uint64_t hist[HIST_US + 1];
	uint64_t calls = 0, failed = 0, malformed = 0;
	for (int i = 0; i < clients; i++) {
		calls += res[i].calls;
		failed += res[i].failed;
		malformed += res[i].malformed;
		for (int us = 0; us <= HIST_US; us++)
			hist[us] += res[i].hist[us];
	}
	printf("clients %3d  calls %9llu  calls/s %9.0f  p50 %6.0f us  p99 %6.0f us  failed %llu  malformed %llu\n",
	       clients, (unsigned long long)calls, (double)calls / elapsed,
	       percentile(hist, calls, 0.50), percentile(hist, calls, 0.99),
	       (unsigned long long)failed, (unsigned long long)malformed);
	return failed || malformed ? 1 : 0;
}
