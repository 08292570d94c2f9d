#include "core/log.h"

#include <stdarg.h>

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

/* The prefix once in the program instead of in every message; the lock keeps
 * a message of one thread whole against the other's. */
void log_write(int level, const char *func, int line, const char *fmt, ...)
{
	va_list args;

	va_start(args, fmt);
	flockfile(stdout);
	printf("%s %s(%d) : ", log_level_tag(level), func, line);
	vprintf(fmt, args);
	funlockfile(stdout);
	va_end(args);
}
