/*
 * avl-cmp.c - stock key comparators
 */
#include <string.h>

#include "libubox/avl-cmp.h"
#include "libubox/blob.h"

int
avl_strcmp(const void *k1, const void *k2, void *ptr)
{
	return strcmp(k1, k2);
}

int
avl_blobcmp(const void *k1, const void *k2, void *ptr)
{
	const struct blob_attr *a1 = k1, *a2 = k2;
	size_t len1 = blob_pad_len(a1), len2 = blob_pad_len(a2);

	if (len1 != len2)
		return len1 < len2 ? -1 : 1;

	return memcmp(k1, k2, len1);
}
