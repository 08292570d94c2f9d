/*
 * sampler_bench [CYCLES]: the work of one sampler cycle without its sleep,
 * check_wlan_mode() then parse_dev_proc(), repeated CYCLES times (default
 * 200) inside bench_cycles(), over a /proc/net/dev that lists lo and the
 * sixteen ends of eight veth pairs carrying some traffic. Runs in private
 * mount and network namespaces (root) with the switch stand-in preloaded;
 * prints nanoseconds per cycle. run.sh runs it under callgrind, collecting
 * inside bench_cycles() only, for instructions per cycle.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "stats/dev_stat.h"
#include "stats/interface_list.h"
#include "core/log.h"
#include "ns_support.h"
#include "stats/statistic.h"
#include "stats/switch_stat.h"

#define PAIRS 8

static double now_ns()
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

extern "C" __attribute__((noinline)) void bench_cycles(int n)
{
	for (int i = 0; i < n; i++) {
		check_wlan_mode();
		parse_dev_proc();
	}
}

static int setup()
{
	std::string why = enter_test_namespaces();

	if (!why.empty()) {
		fprintf(stderr, "sampler_bench: namespaces unavailable: %s\n", why.c_str());
		return -1;
	}
	for (int i = 0; i < PAIRS; i++) {
		std::string a = "sbench" + std::to_string(i) + "a", b = "sbench" + std::to_string(i) + "b";
		int err = make_veth(a.c_str(), b.c_str());

		if (err) {
			fprintf(stderr, "sampler_bench: veth %s: %s\n", a.c_str(), strerror(-err));
			return -1;
		}
		send_frames(a.c_str(), 4 + i, 200 + 100 * i);
	}
	write_file("/etc/config/interface",
		   "config names 'name'\n"
		   "\toption lan1 'sbench0a'\n"
		   "\toption wlan0 'sbench1a'\n"
		   "\toption wlan7 'sbench2a'\n"
		   "\toption bridge 'sbench3b'\n");
	write_file("/etc/config/phy_map", "config map 'map'\n\toption lan0 '4'\n\toption lan1 '3'\n");
	write_file("/etc/config/opmode", "config op 'op'\n\toption mode 'ap'\n");
	return 0;
}

int main(int argc, char **argv)
{
	int cycles = argc > 1 ? atoi(argv[1]) : 200;
	const char *preload = getenv("LD_PRELOAD");
	std::string dev;
	int lines = 0;
	double t0, t1;

	if (cycles <= 0)
		cycles = 200;
	if (!preload || !strstr(preload, "switchsim")) {
		fprintf(stderr, "sampler_bench: preload libswitchsim.so (LD_PRELOAD)\n");
		return 1;
	}
	if (setup() != 0)
		return 1;
	dev = read_file("/proc/net/dev");
	for (char c : dev)
		lines += c == '\n';

	interface_list_seed();
	set_log_level(LOG_LEVEL_INFO);
	switch_stat_init();
	interface_list_init();
	bench_cycles(3); /* warm: lazy binding, first reads of the store */

	t0 = now_ns();
	bench_cycles(cycles);
	t1 = now_ns();

	struct interface_info br, ap;
	get_interface_snapshot(9, &br);
	get_interface_snapshot(3, &ap);
	printf("interfaces in /proc/net/dev: %d (%d lines)\n", lines - 2, lines);
	printf("slot 9 %s: rx_bytes %llu, slot 3 %s (enable %d): tx_bytes %llu\n", br.ifname,
	       (unsigned long long)br.rx_bytes, ap.ifname, ap.enable, (unsigned long long)ap.tx_bytes);
	printf("cycles: %d\nns per cycle: %.0f\n", cycles, (t1 - t0) / cycles);
	return br.rx_bytes && ap.enable && ap.tx_bytes ? 0 : 1;
}
