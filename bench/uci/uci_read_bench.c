/*
 * Cost of one configuration read as the daemon does it once a second:
 * allocate a context, look up opmode.op.mode, free the context.
 *
 *   uci_read_bench              timed run, prints nanoseconds per read
 *   uci_read_bench -n COUNT     exactly COUNT reads, no timing (for callgrind)
 *
 * Instructions per read (user space), counting only inside read_once()
 * (the wildcard also catches the compiler's clone, read_once.constprop.0):
 *   valgrind --tool=callgrind '--toggle-collect=read_once*' \
 *     --callgrind-out-file=/tmp/uci.cg ./uci_read_bench -n 20000
 *   callgrind_annotate /tmp/uci.cg | grep 'PROGRAM TOTALS'
 * then divide the total Ir by COUNT + 1 (one checked read runs first).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <uci.h>

static const char opmode_text[] =
	"\n"
	"config op 'op'\n"
	"\toption mode 'router'\n"
	"\toption wan_ifname 'eth1'\n"
	"\toption lan_ifname 'eth0'\n";

static char confdir[64];

__attribute__((noinline)) static int read_once(char *out, size_t outsz)
{
	struct uci_context *ctx = uci_alloc_context();
	struct uci_ptr ptr;
	char key[] = "opmode.op.mode";
	int ok = 0;

	if (!ctx)
		return 0;
	uci_set_confdir(ctx, confdir);
	if (uci_lookup_ptr(ctx, &ptr, key, true) == UCI_OK && ptr.o && ptr.o->type == UCI_TYPE_STRING) {
		size_t n = strlen(ptr.o->v.string);
		if (n < outsz) {
			memcpy(out, ptr.o->v.string, n + 1);
			ok = 1;
		}
	}
	uci_free_context(ctx);
	return ok;
}

static int setup(void)
{
	char path[128];
	strcpy(confdir, "/tmp/uci-bench-XXXXXX");
	if (!mkdtemp(confdir))
		return -1;
	snprintf(path, sizeof(path), "%s/opmode", confdir);
	FILE *f = fopen(path, "w");
	if (!f)
		return -1;
	fputs(opmode_text, f);
	return fclose(f);
}

static void teardown(void)
{
	char path[128];
	snprintf(path, sizeof(path), "%s/opmode", confdir);
	unlink(path);
	rmdir(confdir);
}

static double now_ns(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1e9 + ts.tv_nsec;
}

int main(int argc, char **argv)
{
	long count = 0;
	char value[64];

	if (argc == 3 && !strcmp(argv[1], "-n"))
		count = strtol(argv[2], NULL, 10);
	else if (argc != 1) {
		fprintf(stderr, "usage: %s [-n COUNT]\n", argv[0]);
		return 2;
	}
	if (setup()) {
		perror("setup");
		return 1;
	}
	if (!read_once(value, sizeof(value)) || strcmp(value, "router")) {
		fprintf(stderr, "lookup of opmode.op.mode failed\n");
		teardown();
		return 1;
	}
	if (count > 0) {
		for (long i = 0; i < count; i++)
			read_once(value, sizeof(value));
		printf("%ld reads done\n", count);
		teardown();
		return 0;
	}
	long n = 20000;
	double t0 = now_ns();
	for (long i = 0; i < n; i++)
		read_once(value, sizeof(value));
	double dt = now_ns() - t0;
	printf("uci config read (alloc, lookup opmode.op.mode, free): %.0f ns per read over %ld reads\n", dt / n, n);
	teardown();
	return 0;
}
