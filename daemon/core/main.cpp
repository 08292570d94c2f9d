#include <stdio.h>

#include "stats/interface_list.h"
#include "core/log.h"
#include "rpc/rpc.h"
#include "stats/statistic.h"
#include "stats/switch_stat.h"

int main(int argc, char **argv)
{
	interface_list_seed();
	set_log_level(LOG_LEVEL_INFO);
	/* A supervisor's pipe is no terminal: keep every line, even if killed. */
	setvbuf(stdout, NULL, _IOLBF, 0);
	log_debug("Initialize interface list\n");
	/* The port map names the wired slots, so it comes first. */
	switch_stat_init();
	interface_list_init();
	interface_list_dump();

	log_debug("Begin network traffic statistic\n");
	start_statistic();

	log_debug("Run rpc module\n");
	rpc_run();
	return 0;
}
