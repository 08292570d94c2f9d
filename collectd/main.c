/*
 * veloxd-collectd: veloxd's traffic totals for collectd, run by its exec
 * plugin. Every collectd interval it reads the slots of veloxd's current
 * mode over one kept bus connection and prints them as PUTVAL lines
 * (if_octets and if_packets, raw totals), so collectd derives the rates.
 * It ends on SIGTERM (collectd stopping) and when its output is closed.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bus.h"
#include "feed.h"

/* collectd's own default, for a run outside collectd. */
#define DEFAULT_INTERVAL_MS 10000
#define MAX_INTERVAL_MS (24 * 3600 * 1000)

static volatile sig_atomic_t stopping;

static void on_stop(int sig)
{
	(void)sig;
	stopping = 1;
}

static void catch_signals(void)
{
	struct sigaction sa;

	memset(&sa, 0, sizeof(sa));
	sa.sa_handler = on_stop;
	sigemptyset(&sa.sa_mask);
	sigaction(SIGTERM, &sa, NULL);
	sigaction(SIGINT, &sa, NULL);
	/* A closed output shows as a failed write, not as a killed process. */
	signal(SIGPIPE, SIG_IGN);
}

/* COLLECTD_INTERVAL is a decimal number of seconds, such as "2.000". */
static int64_t interval_ms(void)
{
	const char *s = getenv("COLLECTD_INTERVAL");
	char *end;
	double v;

	if (!s || !*s)
		return DEFAULT_INTERVAL_MS;
	v = strtod(s, &end);
	if (*end || !(v * 1000 >= 1) || v * 1000 > MAX_INTERVAL_MS) {
		fprintf(stderr, "veloxd-collectd: COLLECTD_INTERVAL \"%s\" is no interval; using %d s\n",
			s, DEFAULT_INTERVAL_MS / 1000);
		return DEFAULT_INTERVAL_MS;
	}
	return (int64_t)(v * 1000 + 0.5);
}

static const char *host_name(void)
{
	static char buf[256];
	const char *s = getenv("COLLECTD_HOSTNAME");

	if (s && *s)
		return s;
	if (gethostname(buf, sizeof(buf) - 1) != 0 || !buf[0])
		return "localhost";
	return buf;
}

/*
 * Waits until the monotonic time `until`; false when it is time to stop.
 * The wait watches the output: a pipe whose reader is gone reports an error.
 */
static int wait_until(int64_t until)
{
	struct pollfd pfd = { STDOUT_FILENO, 0, 0 };

	while (!stopping) {
		int64_t left = until - bus_now_ms();

		if (left <= 0)
			return 1;
		if (poll(&pfd, 1, (int)left) > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
			return 0;
	}
	return 0;
}

static void usage(const char *prog)
{
	fprintf(stderr, "Usage: %s [-s <socket>]\n"
		" -s <socket>  ubus socket (default %s, else the library's default)\n"
		"Run by collectd's exec plugin; reads COLLECTD_HOSTNAME and COLLECTD_INTERVAL.\n",
		prog, BUS_SOCKET);
}

int main(int argc, char **argv)
{
	struct feed_conf conf = { NULL, NULL };
	int64_t interval, next;
	int opt;

	while ((opt = getopt(argc, argv, "s:h")) != -1) {
		if (opt != 's') {
			usage(argv[0]);
			return opt == 'h' ? 0 : 1;
		}
		conf.socket_path = optarg;
	}
	catch_signals();
	conf.host = host_name();
	interval = interval_ms();

	/* Rounds on a fixed beat; one that overran is not made up for. */
	next = bus_now_ms();
	while (!stopping) {
		if (feed_round(&conf, stdout) != 0)
			break;
		next += interval;
		if (next <= bus_now_ms())
			next = bus_now_ms() + interval;
		if (!wait_until(next))
			break;
	}
	bus_close();
	return 0;
}
