/*
 * utils.c - __calloc_a
 */
#include "libubox/utils.h"

#include <stdarg.h>
#include <stdlib.h>

#define CALLOC_A_ALIGN(len) (((len) + sizeof(size_t) - 1) & ~(sizeof(size_t) - 1))

void *
__calloc_a(size_t len, ...)
{
	va_list ap, ap1;
	void *ret;
	void **cur_addr;
	size_t cur_len;
	size_t alloc_len = 0;
	char *ptr;

	va_start(ap, len);
	va_copy(ap1, ap);

	cur_len = len;
	for (;;) {
		size_t chunk = CALLOC_A_ALIGN(cur_len);

		if (chunk < cur_len || alloc_len + chunk < alloc_len) {
			va_end(ap1);
			va_end(ap);
			return NULL;
		}
		alloc_len += chunk;

		cur_addr = va_arg(ap1, void **);
		if (!cur_addr)
			break;
		cur_len = va_arg(ap1, size_t);
	}
	va_end(ap1);

	ret = calloc(1, alloc_len ? alloc_len : 1);
	if (!ret) {
		va_end(ap);
		return NULL;
	}

	ptr = (char *) ret + CALLOC_A_ALIGN(len);
	for (;;) {
		cur_addr = va_arg(ap, void **);
		if (!cur_addr)
			break;
		cur_len = va_arg(ap, size_t);
		*cur_addr = ptr;
		ptr += CALLOC_A_ALIGN(cur_len);
	}
	va_end(ap);

	return ret;
}
