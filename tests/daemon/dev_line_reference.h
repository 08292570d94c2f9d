#ifndef VELOXD_TEST_DEV_LINE_REFERENCE_H
#define VELOXD_TEST_DEV_LINE_REFERENCE_H

#include <stdio.h>
#include <string.h>

#include "stats/dev_line_scan.h"

/*
 * Compare scan_dev_line with the C library's sscanf on one line. Returns
 * NULL when they agree, otherwise what differs.
 */
static inline const char *dev_line_mismatch(const char *line)
{
	/* Big enough for any token of a line under test: sscanf's %s has no bound. */
	static char ref_name[8192];
	unsigned long long ref[4] = { 11, 12, 13, 14 };
	struct dev_line got;
	int ref_n, got_n;

	if (strlen(line) >= sizeof(ref_name))
		return NULL;
	memset(ref_name, 0, sizeof(ref_name));
	memset(&got, 0, sizeof(got));
	got.rx_bytes = 11;
	got.rx_packets = 12;
	got.tx_bytes = 13;
	got.tx_packets = 14;

	ref_n = sscanf(line, "%s%llu%llu%*u%*u%*u%*u%*u%*u%llu%llu%*u%*u%*u%*u%*u%*u\n",
		       ref_name, &ref[0], &ref[1], &ref[2], &ref[3]);
	got_n = scan_dev_line(line, &got);

	if (ref_n >= 1 && strlen(ref_name) >= sizeof(got.name))
		return got_n == 0 && got.name[0] == '\0' ? NULL : "overlong name not refused";
	if (ref_n != got_n)
		return "item count";
	if (ref_n >= 1 && strcmp(ref_name, got.name) != 0)
		return "name";
	if (ref[0] != got.rx_bytes || ref[1] != got.rx_packets ||
	    ref[2] != got.tx_bytes || ref[3] != got.tx_packets)
		return "numbers";
	return NULL;
}

#endif
