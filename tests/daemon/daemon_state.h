#ifndef VELOXD_TEST_DAEMON_STATE_H
#define VELOXD_TEST_DAEMON_STATE_H

#include <string>

#include "stats/interface_list.h"

/* Put the table, selections, port map, switch totals and log level back as the process started. */
void reset_daemon_state();

/* A pass timestamp of s seconds and ns nanoseconds. */
struct timespec at(long s, long ns = 0);

/* Log text with the source line numbers replaced by N, which nothing reads. */
std::string without_lines(const std::string &text);

#endif
