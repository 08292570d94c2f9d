/* Fake kernel: jiffies at HZ 100; the test advances them. */
#ifndef FAKE_LINUX_JIFFIES_H
#define FAKE_LINUX_JIFFIES_H
#include <limits.h>

#define HZ 100
#define MAX_JIFFY_OFFSET ((LONG_MAX >> 1) - 1)
#define INITIAL_JIFFIES ((unsigned long)(unsigned int)(-300 * HZ))

extern volatile unsigned long jiffies;

unsigned long msecs_to_jiffies(const unsigned int m);
#endif
