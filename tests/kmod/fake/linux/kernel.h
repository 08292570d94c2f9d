/* Fake kernel: printk, sprintf and helpers. */
#ifndef FAKE_LINUX_KERNEL_H
#define FAKE_LINUX_KERNEL_H
#include <limits.h>
#include <stdio.h>
#include <linux/types.h>

/* What the level macros expand to on the router's kernel. */
#define KERN_ERR	"<3>"
#define KERN_INFO	"<6>"

int printk(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#define min_t(type, x, y) ({ type __x = (x); type __y = (y); __x < __y ? __x : __y; })
#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#endif
