/*
 * libfastclock.so, preloaded into veloxd by bench/footprint/run.sh so the
 * day history fills in minutes: every usleep (the sampler's one-second
 * pause) sleeps FASTCLOCK_SLEEP_US microseconds (default 20000) instead and
 * moves the monotonic clock on by FASTCLOCK_STEP_S seconds (default 300),
 * so each sampling pass falls in a five-minute interval of its own. The
 * other clocks are left alone.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static long offset_s;

static long setting(const char *name, long fallback)
{
	const char *v = getenv(name);

	return v && *v ? atol(v) : fallback;
}

int usleep(useconds_t us)
{
	struct timespec t;
	long sleep_us = setting("FASTCLOCK_SLEEP_US", 20000);

	(void)us;
	__atomic_add_fetch(&offset_s, setting("FASTCLOCK_STEP_S", 300), __ATOMIC_RELAXED);
	t.tv_sec = sleep_us / 1000000;
	t.tv_nsec = sleep_us % 1000000 * 1000;
	return nanosleep(&t, NULL);
}

int clock_gettime(clockid_t id, struct timespec *ts)
{
	static int (*real)(clockid_t, struct timespec *);
	int r;

	if (!real)
		real = (int (*)(clockid_t, struct timespec *))dlsym(RTLD_NEXT, "clock_gettime");
	r = real(id, ts);
	if (r == 0 && id == CLOCK_MONOTONIC)
		ts->tv_sec += __atomic_load_n(&offset_s, __ATOMIC_RELAXED);
	return r;
}
