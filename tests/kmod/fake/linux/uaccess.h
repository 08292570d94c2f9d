/* Fake kernel: user copies; user memory is what the test hands in. */
#ifndef FAKE_LINUX_UACCESS_H
#define FAKE_LINUX_UACCESS_H
#include <linux/types.h>

/* Returns the number of bytes not copied. */
unsigned long copy_from_user(void *to, const void __user *from,
			     unsigned long n);
#endif
