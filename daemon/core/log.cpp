#include "core/log.h"

#include <stdarg.h>
#include <string.h>

int __curr_log_level = 1;

const char __error_log_tag[8] = "[ERROR]";
const char __info_log_tag[8] = "[ INFO]";
const char __debug_log_tag[8] = "[DEBUG]";
const char __unknown_log_tag[8] = "[ UNKN]";

static const char *const log_tags[3] = {
	__error_log_tag,
	__info_log_tag,
	__debug_log_tag,
};

void set_log_level(int level)
{
	__curr_log_level = level;
}

const char *log_level_tag(int level)
{
	unsigned int i = (unsigned int)level - 1u;

	if (i < 3)
		return log_tags[i];
	return __unknown_log_tag;
}

/* Room for any format of the program with its prefix. */
#define LOG_FORMAT_MAX 512

/*
 * fmt behind the line's prefix, in room (of LOG_FORMAT_MAX bytes); fmt alone
 * when it is too long for that. Tags and function names hold no '%'.
 */
__attribute__((format_arg(5)))
static const char *prefixed(char *room, int level, const char *func, int line, const char *fmt)
{
	size_t len = strlen(fmt) + 1;
	int n = snprintf(room, LOG_FORMAT_MAX, "%s %s(%d) : ", log_level_tag(level), func, line);

	if (n < 0 || (size_t)n + len > LOG_FORMAT_MAX)
		return fmt;
	memcpy(room + n, fmt, len);
	return room;
}

/*
 * The prefix once in the program instead of in every message, and the whole
 * line one printf, so that it stays whole against the other thread's lines.
 */
void log_write(int level, const char *func, int line, const char *fmt, ...)
{
	char room[LOG_FORMAT_MAX];
	va_list args;

	va_start(args, fmt);
	vprintf(prefixed(room, level, func, line, fmt), args);
	va_end(args);
}
