/*
 * ubus_bench.c - bus round trips: calls per second and latency percentiles
 *
 * Starts a private ubusd, one server process publishing "bench" whose method
 * "get" replies four short strings, then 1 and 4 client processes that each
 * call it COUNT times in a loop. Prints calls/s over all clients and the
 * p50/p99 latency of single calls.
 *
 * Each round runs every client count and then the same chain over plain
 * sockets; the summary gives the medians over the rounds and one client's
 * share of the reference. Everything runs on one CPU, as on the router:
 * across two CPUs of a virtual machine each hop becomes a cross-CPU wake-up
 * whose cost depends on where the scheduler put each process, and single
 * runs of the same build then differ by a third. -a lets them spread.
 * -v adds the CPU time each process spent per call, user and system, for
 * the bus and the reference: where the difference between the two lies.
 *
 * usage: ubus_bench [-n COUNT] [-c CLIENTS[,CLIENTS...]] [-r ROUNDS] [-a] [-v] [-d UBUSD]
 */
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bus_rig.h"

#define WARMUP	500
#define MAX_ROUNDS	31
#define MAX_COUNTS	8

struct figures {
	double calls;
	double p50;
	double p99;
};

/* CPU seconds of one role over all rounds, and the calls it served */
enum role { BUS_CLIENT, BUS_SERVER, BROKER, REF_CLIENT, REF_SERVER, REF_RELAY, __ROLE_MAX };

static struct {
	double user, sys;
	double calls;
} cpu[__ROLE_MAX];

static void cpu_add(enum role r, const struct rusage *ru, double calls)
{
	cpu[r].user += ru->ru_utime.tv_sec + ru->ru_utime.tv_usec / 1e6;
	cpu[r].sys += ru->ru_stime.tv_sec + ru->ru_stime.tv_usec / 1e6;
	cpu[r].calls += calls;
}

static int reap(pid_t pid, enum role r, double calls)
{
	struct rusage ru;
	int status = 0;

	if (wait4(pid, &status, 0, &ru) == pid)
		cpu_add(r, &ru, calls);
	return status;
}

enum { R_IFNAME, R_STATE, R_MAC, R_SPEED, __R_MAX };

static const struct blobmsg_policy reply_policy[__R_MAX] = {
	[R_IFNAME] = { .name = "ifname", .type = BLOBMSG_TYPE_STRING },
	[R_STATE] = { .name = "state", .type = BLOBMSG_TYPE_STRING },
	[R_MAC] = { .name = "mac", .type = BLOBMSG_TYPE_STRING },
	[R_SPEED] = { .name = "speed", .type = BLOBMSG_TYPE_STRING },
};

static struct blob_buf b;

static double now(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int bench_get(struct ubus_context *ctx, struct ubus_object *obj,
		     struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "ifname", "eth0");
	blobmsg_add_string(&b, "state", "up");
	blobmsg_add_string(&b, "mac", "00:11:22:33:44:55");
	blobmsg_add_string(&b, "speed", "1000F");
	ubus_send_reply(ctx, req, b.head);
	return 0;
}

static const struct ubus_method bench_methods[] = {
	UBUS_METHOD_NOARG("get", bench_get),
};

static struct ubus_object_type bench_type = UBUS_OBJECT_TYPE("bench", bench_methods);

static struct ubus_object bench_obj = {
	.name = "bench",
	.type = &bench_type,
	.methods = bench_methods,
	.n_methods = ARRAY_SIZE(bench_methods),
};

static void reply_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct blob_attr *tb[__R_MAX];
	int *ok = req->priv;

	blobmsg_parse(reply_policy, __R_MAX, tb, blob_data(msg), blob_len(msg));
	*ok = tb[R_IFNAME] && tb[R_STATE] && tb[R_MAC] && tb[R_SPEED];
}

struct slot {
	double start;
	double end;
	int failed;
};

/* One client: warm up, wait for the start signal, then COUNT timed calls. */
static void run_client(const char *sock, int count, int go_fd, struct slot *slot, uint32_t *lat_ns)
{
	struct ubus_context *ctx = ubus_connect(sock);
	uint32_t id;
	char c;

	if (!ctx || ubus_lookup_id(ctx, "bench", &id)) {
		slot->failed = 1;
		_exit(1);
	}
	for (int i = 0; i < WARMUP; i++) {
		int ok = 0;

		ubus_invoke(ctx, id, "get", NULL, reply_cb, &ok, 5000);
	}
	if (read(go_fd, &c, 1) != 1)
		_exit(1);
	slot->start = now();
	for (int i = 0; i < count; i++) {
		struct timespec t0, t1;
		int ok = 0;
		int ret;

		clock_gettime(CLOCK_MONOTONIC, &t0);
		ret = ubus_invoke(ctx, id, "get", NULL, reply_cb, &ok, 5000);
		clock_gettime(CLOCK_MONOTONIC, &t1);
		if (ret || !ok)
			slot->failed++;
		lat_ns[i] = (uint32_t) ((t1.tv_sec - t0.tv_sec) * 1000000000L + (t1.tv_nsec - t0.tv_nsec));
	}
	slot->end = now();
	ubus_free(ctx);
	_exit(0);
}

static int cmp_u32(const void *a, const void *b)
{
	uint32_t x = *(const uint32_t *) a, y = *(const uint32_t *) b;

	return x < y ? -1 : x > y;
}

static int run_round(const char *sock, int clients, int count, struct figures *fig)
{
	size_t nlat = (size_t) clients * count;
	struct slot *slots;
	uint32_t *lat;
	int go[2];
	double start = 1e30, end = 0;
	int failed = 0;
	pid_t *pids = calloc(clients, sizeof(*pids));

	slots = mmap(NULL, clients * sizeof(*slots), PROT_READ | PROT_WRITE,
		     MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	lat = mmap(NULL, nlat * sizeof(*lat), PROT_READ | PROT_WRITE,
		   MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	if (!pids || slots == MAP_FAILED || lat == MAP_FAILED || pipe(go))
		return -1;
	memset(slots, 0, clients * sizeof(*slots));
	for (int i = 0; i < clients; i++) {
		pids[i] = fork();
		if (pids[i] == 0) {
			close(go[1]);
			run_client(sock, count, go[0], &slots[i], lat + (size_t) i * count);
		}
	}
	close(go[0]);
	/* let every client finish its warm-up before the clock starts */
	usleep(300000);
	for (int i = 0; i < clients; i++)
		if (write(go[1], "g", 1) != 1)
			return -1;
	close(go[1]);
	for (int i = 0; i < clients; i++) {
		int status = reap(pids[i], BUS_CLIENT, count + WARMUP);

		if (!WIFEXITED(status) || WEXITSTATUS(status))
			failed++;
		if (slots[i].start < start)
			start = slots[i].start;
		if (slots[i].end > end)
			end = slots[i].end;
		failed += slots[i].failed;
	}
	qsort(lat, nlat, sizeof(*lat), cmp_u32);
	fig->calls = nlat / (end - start);
	fig->p50 = lat[nlat / 2] / 1000.0;
	fig->p99 = lat[nlat * 99 / 100] / 1000.0;
	printf("clients %d  calls %zu  %.0f calls/s  p50 %.1f us  p99 %.1f us%s\n",
	       clients, nlat, fig->calls, fig->p50, fig->p99, failed ? "  (FAILURES)" : "");
	fflush(stdout);
	munmap(slots, clients * sizeof(*slots));
	munmap(lat, nlat * sizeof(*lat));
	free(pids);
	return failed ? -1 : 0;
}

/*
 * The same chain without a bus: a caller, a relay and a server passing
 * messages of similar size over plain blocking sockets. What the machine
 * allows at best for four hops, to read the figures above against.
 */
static double run_reference(int count)
{
	int cb[2], bs[2];
	uint8_t m[256] = { 0 };
	pid_t relay, server;
	struct rusage ru0, ru1;
	double start, rate;

	if (socketpair(AF_UNIX, SOCK_STREAM, 0, cb) || socketpair(AF_UNIX, SOCK_STREAM, 0, bs))
		return 0;
	server = fork();
	if (server == 0) {
		close(cb[0]);
		close(cb[1]);
		close(bs[0]);
		while (read(bs[1], m, sizeof(m)) > 0)
			if (write(bs[1], m, 120) != 120)
				break;
		_exit(0);
	}
	relay = fork();
	if (relay == 0) {
		close(cb[0]);
		close(bs[1]);
		while (read(cb[1], m, sizeof(m)) > 0) {
			if (write(bs[0], m, 80) != 80 || read(bs[0], m, sizeof(m)) <= 0 ||
			    write(cb[1], m, 120) != 120)
				break;
		}
		_exit(0);
	}
	getrusage(RUSAGE_SELF, &ru0);
	start = now();
	for (int i = 0; i < count; i++)
		if (write(cb[0], m, 56) != 56 || read(cb[0], m, sizeof(m)) <= 0)
			break;
	rate = count / (now() - start);
	getrusage(RUSAGE_SELF, &ru1);
	ru1.ru_utime.tv_sec -= ru0.ru_utime.tv_sec;
	ru1.ru_utime.tv_usec -= ru0.ru_utime.tv_usec;
	ru1.ru_stime.tv_sec -= ru0.ru_stime.tv_sec;
	ru1.ru_stime.tv_usec -= ru0.ru_stime.tv_usec;
	cpu_add(REF_CLIENT, &ru1, count);
	printf("reference (plain sockets, 3 processes, 4 hops): %.0f round trips/s\n", rate);
	close(cb[0]);
	close(cb[1]);
	close(bs[0]);
	close(bs[1]);
	reap(relay, REF_RELAY, count);
	reap(server, REF_SERVER, count);
	return rate;
}

static int cmp_double(const void *a, const void *b)
{
	double x = *(const double *) a, y = *(const double *) b;

	return x < y ? -1 : x > y;
}

static double median(double *v, int n)
{
	qsort(v, n, sizeof(*v), cmp_double);
	return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/* All processes of the run on the first CPU this one may use. */
static void pin_one_cpu(void)
{
	cpu_set_t set;

	if (sched_getaffinity(0, sizeof(set), &set))
		return;
	for (int cpu = 0; cpu < CPU_SETSIZE; cpu++) {
		if (!CPU_ISSET(cpu, &set))
			continue;
		CPU_ZERO(&set);
		CPU_SET(cpu, &set);
		if (sched_setaffinity(0, sizeof(set), &set) == 0)
			printf("all processes on CPU %d\n", cpu);
		return;
	}
}

static void print_cpu_line(const char *what, const char *const names[3], const enum role roles[3])
{
	double total = 0;

	printf("  %s", what);
	for (int i = 0; i < 3; i++) {
		double calls = cpu[roles[i]].calls;
		double user = calls ? cpu[roles[i]].user / calls * 1e6 : 0;
		double sys = calls ? cpu[roles[i]].sys / calls * 1e6 : 0;

		printf("  %s %.2f+%.2f", names[i], user, sys);
		total += user + sys;
	}
	printf("  = %.2f\n", total);
}

static void print_cpu(void)
{
	static const char *const names[3] = { "client", "server", "broker" };
	static const char *const ref_names[3] = { "client", "server", "relay" };
	static const enum role bus[3] = { BUS_CLIENT, BUS_SERVER, BROKER };
	static const enum role ref[3] = { REF_CLIENT, REF_SERVER, REF_RELAY };

	printf("CPU per call, us user+system (broker and server over all client counts):\n");
	print_cpu_line("bus      ", names, bus);
	print_cpu_line("reference", ref_names, ref);
}

static void print_summary(const int *clients, int ncounts, struct figures fig[][MAX_COUNTS],
			  const double *ref, int rounds)
{
	double v[MAX_ROUNDS], r[MAX_ROUNDS];

	printf("median of %d rounds:\n", rounds);
	for (int c = 0; c < ncounts; c++) {
		double calls, p50, p99;

		for (int i = 0; i < rounds; i++)
			v[i] = fig[i][c].calls;
		calls = median(v, rounds);
		for (int i = 0; i < rounds; i++)
			v[i] = fig[i][c].p50;
		p50 = median(v, rounds);
		for (int i = 0; i < rounds; i++)
			v[i] = fig[i][c].p99;
		p99 = median(v, rounds);
		printf("  clients %d  %.0f calls/s  p50 %.1f us  p99 %.1f us  p99/p50 %.2f\n",
		       clients[c], calls, p50, p99, p99 / p50);
	}
	memcpy(r, ref, rounds * sizeof(*r));
	printf("  reference %.0f round trips/s\n", median(r, rounds));
	for (int c = 0; c < ncounts; c++) {
		if (clients[c] != 1)
			continue;
		/* per round, so that both figures saw the same machine */
		for (int i = 0; i < rounds; i++)
			v[i] = fig[i][c].calls / ref[i];
		printf("  one client at %.2f of the reference\n", median(v, rounds));
	}
}

int main(int argc, char **argv)
{
	const char *ubusd = UBUSD_BIN;
	char counts_buf[64] = "1,4";
	static struct figures fig[MAX_ROUNDS][MAX_COUNTS];
	double ref[MAX_ROUNDS];
	int clients[MAX_COUNTS], ncounts = 0;
	int rounds = 5, spread = 0, verbose = 0;
	double served = 0;
	struct rusage server_ru = { 0 }, broker_ru = { 0 };
	struct bus_rig rig;
	int count = 100000;
	int ret = 0;
	int ch;

	while ((ch = getopt(argc, argv, "n:c:r:avd:")) != -1) {
		switch (ch) {
		case 'n':
			count = atoi(optarg);
			break;
		case 'c':
			snprintf(counts_buf, sizeof(counts_buf), "%s", optarg);
			break;
		case 'r':
			rounds = atoi(optarg);
			break;
		case 'a':
			spread = 1;
			break;
		case 'v':
			verbose = 1;
			break;
		case 'd':
			ubusd = optarg;
			break;
		default:
			fprintf(stderr, "usage: %s [-n COUNT] [-c CLIENTS[,CLIENTS...]] [-r ROUNDS] [-a] [-v] [-d UBUSD]\n",
				argv[0]);
			return 2;
		}
	}
	for (char *tok = strtok(counts_buf, ","); tok && ncounts < MAX_COUNTS; tok = strtok(NULL, ","))
		if (atoi(tok) > 0)
			clients[ncounts++] = atoi(tok);
	if (count < 100 || rounds < 1 || rounds > MAX_ROUNDS || !ncounts)
		return 2;
	if (!spread)
		pin_one_cpu();
	if (bus_rig_start(&rig, ubusd, &bench_obj))
		ret = 1;

	printf("ubus round trip: %d calls per client, method replying four short strings\n", count);
	for (int i = 0; i < rounds && !ret; i++) {
		for (int c = 0; c < ncounts && !ret; c++) {
			if (run_round(rig.sock, clients[c], count, &fig[i][c]) < 0)
				ret = 1;
			served += (double) clients[c] * (count + WARMUP);
		}
		if (!ret)
			ref[i] = run_reference(count);
	}
	if (!ret)
		print_summary(clients, ncounts, fig, ref, rounds);
	bus_rig_stop(&rig, &server_ru, &broker_ru);
	cpu_add(BUS_SERVER, &server_ru, served);
	cpu_add(BROKER, &broker_ru, served);
	if (!ret && verbose)
		print_cpu();
	return ret;
}
