/*
 * One round of veloxd-collectd: read the slots of veloxd's current mode and
 * print their totals as PUTVAL lines for collectd's exec plugin.
 */
#ifndef VELOXD_COLLECTD_FEED_H
#define VELOXD_COLLECTD_FEED_H

#include <stdio.h>

struct feed_conf {
	const char *host;	/* collectd's host name for local values */
	const char *socket_path;	/* null: where veloxd looks */
};

/* 0, or -1 when the output is gone (collectd stopped reading). */
int feed_round(const struct feed_conf *conf, FILE *out);

#endif
