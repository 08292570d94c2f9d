/*
 * testlib.h - small harness for the bus tests: checks, a private broker,
 * child processes with captured output
 */
#ifndef UBUS_TESTLIB_H
#define UBUS_TESTLIB_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

extern int test_failures;

#define CHECK(cond) do { \
	if (!(cond)) { \
		fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
		test_failures++; \
	} \
} while (0)

#define CHECK_INT(got, want) do { \
	long long _g = (got), _w = (want); \
	if (_g != _w) { \
		fprintf(stderr, "%s:%d: %s = %lld, expected %lld\n", __FILE__, __LINE__, #got, _g, _w); \
		test_failures++; \
	} \
} while (0)

#define CHECK_STR(got, want) check_str(__FILE__, __LINE__, #got, (got), (want))
#define CHECK_MEM(got, glen, want, wlen) check_mem(__FILE__, __LINE__, #got, (got), (glen), (want), (wlen))

void check_str(const char *file, int line, const char *expr, const char *got, const char *want);
void check_mem(const char *file, int line, const char *expr,
	       const void *got, size_t glen, const void *want, size_t wlen);

struct broker {
	pid_t pid;
	char dir[128];
	char path[160];
};

/* TMPDIR, or /tmp where it is not set */
const char *tmp_dir(void);

/* ubusd on a socket in a new temporary directory */
bool broker_start(struct broker *b);
/* ubusd on b->path as it stands */
bool broker_start_at(struct broker *b);
void broker_stop(struct broker *b);
/* connects a plain socket to the broker (no HELLO read) */
int raw_connect(const char *path);

struct result {
	int code;	/* exit code, or 128+signal */
	char *out;
	char *err;
	double secs;
};

/* Runs argv to completion (killed after timeout_ms); output captured. */
void run(struct result *r, int timeout_ms, const char *const argv[]);
void result_free(struct result *r);

/* The ubus tool on broker br_ with the arguments: checks its stdout, stderr
 * and exit code. */
#define UBUS_CHECK(br_, o_, e_, c_, ...) do { \
	const char *argv_[] = { UBUS_BIN, "-s", (br_)->path, __VA_ARGS__, NULL }; \
	struct result r_; \
	run(&r_, 60000, argv_); \
	CHECK_STR(r_.out, o_); \
	CHECK_STR(r_.err, e_); \
	CHECK_INT(r_.code, c_); \
	result_free(&r_); \
} while (0)

/* Starts argv with stdout on a pipe and waits for the line "ready". */
pid_t spawn_ready(const char *const argv[], int *out_fd);
bool wait_line(int fd, const char *line, int timeout_ms);
/* true if pid exited within timeout_ms; *code gets the exit code */
bool wait_exit(pid_t pid, int timeout_ms, int *code);
void kill_wait(pid_t pid);

double now_secs(void);
/* "00 0a ff" -> bytes; returns the count */
size_t unhex(const char *hex, uint8_t *out, size_t max);
/* Send the bytes a printf-formatted hex text spells, in one write. */
void send_hex(int fd, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif

#endif
