#ifndef VELOXD_TEST_DAEMON_STATE_H
#define VELOXD_TEST_DAEMON_STATE_H

#include <string>

#include "stats/interface_list.h"

/* The record of slot i, to arrange a case or look at its outcome. */
struct interface_info &slot_at(unsigned int i);

/* Put the table, histories, selections, port map, switch totals and log level back as the process started. */
void reset_daemon_state();

/* A pass timestamp of s seconds and ns nanoseconds. */
struct timespec at(long s, long ns = 0);

/* Log text with the source line numbers replaced by N, which nothing reads. */
std::string without_lines(const std::string &text);

#endif
