/*
 * json_bench.c - cost of blobmsg to JSON text and JSON text to blobmsg
 *
 * Three messages: a 200-byte reply of counter strings (what a port query
 * answers), then tables of interface records of 4 KiB and 64 KiB
 * (strings, some with escapes, integers of every width, a double, bools).
 *
 *   json_bench                     timed run of every case, ns per call
 *   json_bench -n COUNT CASE       COUNT calls of one case, no timing
 *
 * CASE is format-200, format-4k, format-64k, parse-200, parse-4k or
 * parse-64k. For instructions per call, count inside bench_run() only
 * (bench/json/run.sh does this and compares with an older library).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <json-c/json.h>
#include <libubox/blobmsg_json.h>

enum op { OP_FORMAT, OP_PARSE };

struct bench_case {
	const char *name;
	enum op op;
	size_t size;
};

static const struct bench_case cases[] = {
	{ "format-200", OP_FORMAT, 200 },
	{ "format-4k", OP_FORMAT, 4096 },
	{ "format-64k", OP_FORMAT, 65536 },
	{ "parse-200", OP_PARSE, 200 },
	{ "parse-4k", OP_PARSE, 4096 },
	{ "parse-64k", OP_PARSE, 65536 },
};

static struct blob_buf msg, parsed;
static char *text;

static void add_port_reply(struct blob_buf *b)
{
	blobmsg_add_string(b, "tx_packets", "1234567");
	blobmsg_add_string(b, "tx_bytes", "1588412345");
	blobmsg_add_string(b, "rx_packets", "7654321");
	blobmsg_add_string(b, "rx_bytes", "10293847561");
	blobmsg_add_string(b, "tx_speed", "1234.56");
	blobmsg_add_string(b, "rx_speed", "98765.43");
	blobmsg_add_string(b, "ifname", "eth0.2");
}

static void add_record(struct blob_buf *b, unsigned int i)
{
	char name[16], desc[64];
	void *t, *a;

	snprintf(name, sizeof(name), "eth%u", i);
	snprintf(desc, sizeof(desc), "port %u \"lan\"\tuplink/%u", i, i * 7);
	t = blobmsg_open_table(b, NULL);
	blobmsg_add_string(b, "ifname", name);
	blobmsg_add_string(b, "desc", desc);
	blobmsg_add_u8(b, "up", i & 1);
	blobmsg_add_u16(b, "mtu", 1500);
	blobmsg_add_u32(b, "index", i);
	blobmsg_add_u64(b, "rx_bytes", 1000000007ULL * (i + 1));
	blobmsg_add_u64(b, "tx_bytes", 3000000019ULL * (i + 3));
	blobmsg_add_double(b, "load", i / 8.0);
	a = blobmsg_open_array(b, "vlans");
	blobmsg_add_u32(b, NULL, 1);
	blobmsg_add_u32(b, NULL, 100 + i);
	blobmsg_close_array(b, a);
	blobmsg_close_table(b, t);
}

/* A message of about size bytes on the wire. */
static void build(struct blob_buf *b, size_t size)
{
	void *a;

	blob_buf_init(b, 0);
	if (size <= 256) {
		add_port_reply(b);
		return;
	}
	a = blobmsg_open_array(b, "interfaces");
	for (unsigned int i = 0; blob_raw_len(b->head) < size - 200; i++)
		add_record(b, i);
	blobmsg_close_array(b, a);
}

__attribute__((noinline)) static size_t bench_run(enum op op, unsigned int n)
{
	size_t sum = 0;

	for (unsigned int i = 0; i < n; i++) {
		if (op == OP_FORMAT) {
			char *s = blobmsg_format_json(msg.head, true);

			sum += s ? strlen(s) : 0;
			free(s);
		} else {
			blob_buf_init(&parsed, 0);
			sum += blobmsg_add_json_from_string(&parsed, text);
		}
	}
	return sum;
}

static void setup(const struct bench_case *c)
{
	build(&msg, c->size);
	free(text);
	text = blobmsg_format_json(msg.head, true);
}

static double now(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void timed(const struct bench_case *c)
{
	unsigned int n = c->size > 10000 ? 400 : c->size > 1000 ? 5000 : 100000;
	double best = 1e30;

	setup(c);
	bench_run(c->op, n / 10);
	/* best of five: the host is shared */
	for (int r = 0; r < 5; r++) {
		double t0 = now();

		bench_run(c->op, n);
		if (now() - t0 < best)
			best = now() - t0;
	}
	printf("%-11s message %6zu bytes, text %6zu bytes: %9.0f ns per call\n", c->name,
	       blob_raw_len(msg.head), strlen(text), best / n * 1e9);
}

int main(int argc, char **argv)
{
	Dl_info info;
	unsigned int n = 0;

	/*
	 * json-c seeds its default string hash at random in each process, which
	 * moves a parse's instruction count by a few percent from run to run.
	 */
	json_global_set_string_hash(JSON_C_STR_HASH_PERLLIKE);
	if (argc == 4 && !strcmp(argv[1], "-n")) {
		n = (unsigned int) atoi(argv[2]);
		for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
			if (strcmp(cases[i].name, argv[3]))
				continue;
			setup(&cases[i]);
			/* one call outside the count: first-use costs of the libraries */
			bench_run(cases[i].op, 1);
			printf("%s %u %zu %zu\n", cases[i].name, n, blob_raw_len(msg.head),
			       bench_run(cases[i].op, n));
			return 0;
		}
		fprintf(stderr, "unknown case %s\n", argv[3]);
		return 2;
	}
	if (argc != 1) {
		fprintf(stderr, "usage: %s [-n COUNT CASE]\n", argv[0]);
		return 2;
	}
	if (dladdr((void *) blobmsg_format_json_with_cb, &info) && info.dli_fname)
		printf("formatter from %s\n", info.dli_fname);
	for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
		timed(&cases[i]);
	blob_buf_free(&msg);
	blob_buf_free(&parsed);
	free(text);
	return 0;
}
