/*
 * http.h - the HTTP side: the ubus endpoint and the document roots
 */
#ifndef UBUS_HTTP_HTTP_H
#define UBUS_HTTP_HTTP_H

#include <stdbool.h>

struct http_config {
	const char *address;
	int port;
	const char *prefix;
	bool cors;
	int keepalive;
};

/* Starts serving from the event loop; the bound port, or -1. */
int http_start(const struct http_config *cfg);
void http_stop(void);

#endif
