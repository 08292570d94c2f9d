/* Fake kernel: the router's kernel release. */
#ifndef FAKE_LINUX_VERSION_H
#define FAKE_LINUX_VERSION_H
#define KERNEL_VERSION(a, b, c) (((a) << 16) + ((b) << 8) + (c))
#define LINUX_VERSION_CODE KERNEL_VERSION(3, 3, 8)
#endif
