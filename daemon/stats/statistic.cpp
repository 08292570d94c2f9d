#include "stats/statistic.h"

#include <pthread.h>
#include <unistd.h>

#include "stats/dev_stat.h"
#include "stats/interface_list.h"
#include "core/log.h"

#define SAMPLE_PERIOD_US 1000000

int check_wlan_mode(void)
{
	int wlan = configured_wlan_slot(__func__);

	if (wlan < 0)
		return -1;
	interface_select_wlan((unsigned int)wlan);
	return 0;
}

/* Started with a null argument, which it does not read. */
extern "C" void *stat_thread(void *)
{
	pthread_detach(pthread_self());
	for (;;) {
		check_wlan_mode();
		parse_dev_proc();
		usleep(SAMPLE_PERIOD_US);
	}
	return NULL;
}

int start_statistic(void)
{
	pthread_t tid;

	if (pthread_create(&tid, NULL, stat_thread, NULL) != 0) {
		log_error("Start statistics thread failed\n");
		return -1;
	}
	return 0;
}
