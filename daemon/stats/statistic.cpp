#include "stats/statistic.h"

#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include "stats/dev_stat.h"
#include "stats/interface_list.h"
#include "core/log.h"
#include "core/uci_conf.h"

#define SAMPLE_PERIOD_US 1000000

static void set_enable(struct interface_info *slot, int8_t enable)
{
	interface_lock(slot);
	slot->enable = enable;
	interface_unlock(slot);
}

/* Enable one wireless slot, disable the other, and move the selections along. */
static void switch_wlan(struct interface_info *on, struct interface_info *off)
{
	set_enable(on, 1);
	set_enable(off, 0);
	move_display_interface((unsigned int)off->index, (unsigned int)on->index);
}

int check_wlan_mode(void)
{
	char mode[UCI_VALUE_SIZE];
	struct interface_info *ap = get_interface_by_index(WLAN_AP_SLOT);
	struct interface_info *sta = get_interface_by_index(WLAN_STA_SLOT);

	memset(mode, 0, sizeof(mode));
	uci_get_conf("opmode.op.mode", mode, 0);
	if (strcmp(mode, "ap") == 0) {
		switch_wlan(ap, sta);
	} else if (strcmp(mode, "client") == 0 || strcmp(mode, "wds") == 0) {
		switch_wlan(sta, ap);
	} else {
		log_error("Unsupported wlan opmode\n");
		return -1;
	}
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
