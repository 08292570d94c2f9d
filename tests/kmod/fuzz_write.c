/*
 * libFuzzer target: arbitrary bytes written to both lumabar proc files,
 * the module loaded once into the fake kernel. Each input must give the
 * byte count or -EINVAL, exactly when a reference parse (C library, whole
 * input) says it holds one int that ends inside the copied head, and must
 * leave the bar and the period as that number says. Any fake kernel
 * fault aborts.
 */
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fake_kernel.h"

#define LED	"simple_config/rssi_led"
#define BLINK	"simple_config/rssi_led_blink"
/* What the module copies of a write; a number must end before it. */
#define HEAD	15

int init_module(void);

static const unsigned lines[4] = { 3, 14, 13, 11 };

static int kspace(unsigned char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xa0;
}

static int kdigit(unsigned char c)
{
	return c >= '0' && c <= '9';
}

/* 1 and *val when the input holds one int the module must take. */
static int reference(const uint8_t *d, size_t n, int *val)
{
	char digits[64];
	size_t i = 0, start, len;
	long long v;
	int neg = 0;

	while (i < n && kspace(d[i]))
		i++;
	if (i < n && d[i] == '-') {
		neg = 1;
		i++;
	}
	start = i;
	while (i < n && kdigit(d[i]))
		i++;
	len = i - start;
	if (!len || (n > HEAD && i >= HEAD))
		return 0;
	if (len >= sizeof(digits) - 1)
		return 0;
	digits[0] = neg ? '-' : '+';
	memcpy(digits + 1, d + start, len);
	digits[len + 1] = '\0';
	errno = 0;
	v = strtoll(digits, NULL, 10);
	if (errno || v < INT_MIN || v > INT_MAX)
		return 0;
	*val = (int)v;
	return 1;
}

static void check(int cond, const char *what)
{
	if (cond)
		return;
	fprintf(stderr, "fuzz_write: %s\n", what);
	abort();
}

static int lit(void)
{
	int i, n = 0;

	for (i = 0; i < 4; i++)
		n += fk_gpio_value(lines[i]) == 0;
	return n;
}

static long read_blink(void)
{
	char page[4096];
	int start_set, eof_set;
	int n = fk_proc_read(BLINK, page, sizeof(page) - 1, &start_set, &eof_set);

	check(n > 0 && n < (int)sizeof(page), "blink read failed");
	page[n] = '\0';
	return strtol(page, NULL, 10);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static int loaded;
	int want = 0, valid, ret, before;
	const char *stop = "0";

	if (!loaded) {
		fk_reset();
		check(init_module() == 0, "load failed");
		loaded = 1;
	}
	fk_log_clear();
	valid = reference(data, size, &want);

	before = lit();
	ret = fk_proc_write(LED, data, size);
	check(ret == (valid ? (int)size : -EINVAL), "level write result");
	if (valid && (unsigned int)want <= 4)
		check(lit() == want, "level not shown");
	else
		check(lit() == before, "bar changed by an ignored write");

	ret = fk_proc_write(BLINK, data, size);
	check(ret == (valid ? (int)size : -EINVAL), "blink write result");
	check(read_blink() == (valid ? want : 0), "period not as written");

	fk_tick(3);
	check(fk_proc_write(BLINK, stop, 1) == 1, "stop failed");
	check(fk_timers_pending() == 0, "timer left after a stop");
	check(fk_fault_count() == 0, fk_fault_line(0));
	return 0;
}
