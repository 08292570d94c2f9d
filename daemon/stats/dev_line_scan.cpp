#include "stats/dev_line_scan.h"

#include <string.h>

/* isspace() of the C locale, without the locale table lookup. */
static inline bool is_space(unsigned char c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

static inline bool is_digit(unsigned char c)
{
	return c >= '0' && c <= '9';
}

/* The kernel pads its columns with runs of blanks: take those the quick way. */
static const unsigned char *skip_space(const unsigned char *p)
{
	for (;;) {
		while (*p == ' ')
			p++;
		if (!is_space(*p))
			return p;
		p++;
	}
}

/*
 * One %u/%llu conversion: optional sign, at least one digit, then the value
 * as strtoull gives it (overflow saturates whatever the sign, a minus sign
 * negates modulo 2^64). Returns the end of the number, or NULL when no
 * number is there.
 */
static const unsigned char *scan_number(const unsigned char *p, uint64_t *value)
{
	const uint64_t cut = UINT64_MAX / 10;
	bool negative = false;
	bool overflow = false;
	uint64_t v = 0;

	p = skip_space(p);
	if (*p == '+' || *p == '-') {
		negative = *p == '-';
		p++;
	}
	if (!is_digit(*p))
		return NULL;
	for (; is_digit(*p); p++) {
		unsigned int d = (unsigned int)(*p - '0');

		if (v > cut || (v == cut && d > UINT64_MAX % 10))
			overflow = true;
		v = v * 10 + d;
	}
	if (overflow)
		*value = UINT64_MAX;
	else
		*value = negative ? 0 - v : v;
	return p;
}

/* Where each of the first ten numbers goes; the rest are read and dropped. */
static uint64_t *number_target(struct dev_line *out, int i)
{
	switch (i) {
	case 0: return &out->rx_bytes;
	case 1: return &out->rx_packets;
	case 8: return &out->tx_bytes;
	case 9: return &out->tx_packets;
	default: return NULL;
	}
}

#define KEPT_NUMBERS 10

int scan_dev_line(const char *line, struct dev_line *out)
{
	const unsigned char *p = skip_space((const unsigned char *)line);
	const unsigned char *start = p;
	size_t len;
	int stored;

	if (!*p)
		return -1;
	while (*p && !is_space(*p))
		p++;
	len = (size_t)(p - start);
	if (len >= sizeof(out->name))
		return 0;
	memcpy(out->name, start, len);
	out->name[len] = '\0';
	stored = 1;

	/*
	 * The six numbers after the tenth cannot change the result any more,
	 * so the scan stops there.
	 */
	for (int i = 0; i < KEPT_NUMBERS; i++) {
		uint64_t v;
		uint64_t *target;

		p = scan_number(p, &v);
		if (!p)
			return stored;
		target = number_target(out, i);
		if (target) {
			*target = v;
			stored++;
		}
	}
	return stored;
}
