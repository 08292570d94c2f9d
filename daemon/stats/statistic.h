#ifndef VELOXD_STATISTIC_H
#define VELOXD_STATISTIC_H

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
