/* Fake kernel: the release of the era mimicked. */
#ifndef FAKE_LINUX_VERSION_H
#define FAKE_LINUX_VERSION_H
#include <linux/types.h>
#define KERNEL_VERSION(a, b, c) (((a) << 16) + ((b) << 8) + (c))
#define LINUX_VERSION_CODE KERNEL_VERSION(FK_ERA / 100, FK_ERA % 100, 0)
#endif
