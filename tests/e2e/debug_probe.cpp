/*
 * veloxd's bus service with the log level at debug: the daemon's own start-up
 * and rpc_run, so the handlers' debug messages can be checked over the real
 * bus. The sampler is left out; the figures do not matter here.
 */
#include <stdio.h>

#include "stats/interface_list.h"
#include "core/log.h"
#include "rpc/rpc.h"
#include "stats/switch_stat.h"

int main(void)
{
	/* One line at a time, so the log can be read while the probe runs. */
	setvbuf(stdout, NULL, _IOLBF, 0);
	interface_list_seed();
	set_log_level(LOG_LEVEL_DEBUG);
	switch_stat_init();
	interface_list_init();
	rpc_run();
	return 0;
}
