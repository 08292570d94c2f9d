#ifndef VELOXD_LOG_H
#define VELOXD_LOG_H

#include <stdio.h>

#define LOG_LEVEL_ERROR 1
#define LOG_LEVEL_INFO  2
#define LOG_LEVEL_DEBUG 3

#ifdef __cplusplus
extern "C" {
#endif

extern int __curr_log_level;
extern const char __error_log_tag[8];
extern const char __info_log_tag[8];
extern const char __debug_log_tag[8];
extern const char __unknown_log_tag[8];

void set_log_level(int level);
const char *log_level_tag(int level);
/* One message with its "tag function(line) : " prefix; the caller tests the level. */
void log_write(int level, const char *func, int line, const char *fmt, ...)
	__attribute__((format(printf, 4, 5)));

#ifdef __cplusplus
}
#endif

/*
 * The level test comes first: a suppressed message costs one comparison.
 * log_as writes in the name of func, for a helper that reports its caller's
 * faults as the caller.
 */
#define log_as(level, func, fmt, ...)                                         \
	do {                                                                  \
		if (__curr_log_level >= (level))                              \
			log_write((level), (func), __LINE__, fmt,             \
				  ##__VA_ARGS__);                             \
	} while (0)
#define log_msg(level, fmt, ...) log_as(level, __func__, fmt, ##__VA_ARGS__)

#define log_error(fmt, ...) log_msg(LOG_LEVEL_ERROR, fmt, ##__VA_ARGS__)
#define log_debug(fmt, ...) log_msg(LOG_LEVEL_DEBUG, fmt, ##__VA_ARGS__)

#endif
