/* Name comparisons made by libuci, for the scaling test: the library calls
 * the C library's strcmp through its PLT, so this definition in the test
 * program takes those calls, counts them while counting is on, and compares
 * as strcmp does. A count of comparisons does not move with the machine's
 * load the way a time does. */
#include "name_compares.h"

unsigned long name_compares;
int name_compares_on;

int strcmp(const char *a, const char *b)
{
	const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;

	if (name_compares_on)
		name_compares++;
	while (*p && *p == *q) {
		p++;
		q++;
	}
	return *p - *q;
}
