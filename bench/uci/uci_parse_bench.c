/*
 * Cost of loading one large package: time and heap per size.
 *
 *   uci_parse_bench [MB ...]        default: 1 20
 *
 * For each size a file of named sections with three options each (the
 * worst case for a loader that searches the package per statement) is
 * written, then loaded once in a fresh child process, which reports the
 * wall and CPU time of uci_load (CPU time is the steadier figure on a busy
 * host) and the heap in use afterwards (mallinfo2).
 */
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <uci.h>

static double now_s(clockid_t clock)
{
	struct timespec ts;
	clock_gettime(clock, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

static long write_config(const char *path, long bytes)
{
	FILE *f = fopen(path, "w");
	long n = 0, sections = 0;
	if (!f)
		return -1;
	while (n < bytes) {
		n += fprintf(f, "config iface 's%ld'\n\toption ifname 'eth%ld'\n\toption proto 'static'\n"
			     "\tlist dns '10.0.%ld.1'\n", sections, sections, sections & 255);
		sections++;
	}
	fclose(f);
	return sections;
}

static int measure(const char *dir, long sections, double mb)
{
	pid_t pid = fork();
	if (pid < 0)
		return -1;
	if (pid == 0) {
		struct uci_context *ctx = uci_alloc_context();
		struct uci_package *p = NULL;
		uci_set_confdir(ctx, dir);
		size_t heap0 = mallinfo2().uordblks;
		double t0 = now_s(CLOCK_MONOTONIC), c0 = now_s(CLOCK_PROCESS_CPUTIME_ID);
		int r = uci_load(ctx, "big", &p);
		double dt = now_s(CLOCK_MONOTONIC) - t0, dc = now_s(CLOCK_PROCESS_CPUTIME_ID) - c0;
		size_t heap = mallinfo2().uordblks - heap0;
		if (r) {
			fprintf(stderr, "load failed: %d\n", r);
			_exit(1);
		}
		printf("uci_load %5.1f MB, %7ld sections: %7.1f ms wall, %7.1f ms cpu, heap after load %6.1f MB "
		       "(%.1f x file)\n", mb, sections, dt * 1e3, dc * 1e3, heap / 1048576.0, heap / (mb * 1048576.0));
		uci_free_context(ctx);
		fflush(stdout);
		_exit(0);
	}
	int st = 0;
	waitpid(pid, &st, 0);
	return WIFEXITED(st) && WEXITSTATUS(st) == 0 ? 0 : -1;
}

int main(int argc, char **argv)
{
	double sizes[16] = { 1, 20 };
	int n = 2;
	if (argc > 1) {
		n = 0;
		for (int i = 1; i < argc && n < 16; i++)
			sizes[n++] = strtod(argv[i], NULL);
	}
	char dir[] = "/tmp/uci-parse-bench-XXXXXX", path[64];
	if (!mkdtemp(dir)) {
		perror("mkdtemp");
		return 1;
	}
	snprintf(path, sizeof(path), "%s/big", dir);
	int ret = 0;
	for (int i = 0; i < n && !ret; i++) {
		long sections = write_config(path, (long)(sizes[i] * 1048576));
		ret = sections < 0 || measure(dir, sections, sizes[i]);
	}
	unlink(path);
	rmdir(dir);
	return ret;
}
