/* Fake kernel: native-endian register access, logged. */
#ifndef FAKE_LINUX_IO_H
#define FAKE_LINUX_IO_H
#include <linux/types.h>

u32 __raw_readl(const volatile void __iomem *addr);
void __raw_writel(u32 value, volatile void __iomem *addr);
#endif
