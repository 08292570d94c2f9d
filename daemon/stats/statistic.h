#ifndef VELOXD_STATISTIC_H
#define VELOXD_STATISTIC_H

#define WLAN_AP_SLOT 3
#define WLAN_STA_SLOT 7

/* Start the detached sampler thread: mode check, pass, one second's sleep, forever. */
int start_statistic(void);

/* Enable the wireless slot of the configured operating mode. */
int check_wlan_mode(void);

#ifdef __cplusplus
extern "C" {
#endif
void *stat_thread(void *arg);
#ifdef __cplusplus
}
#endif

#endif
