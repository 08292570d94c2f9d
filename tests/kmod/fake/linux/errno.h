/* Fake kernel: the error numbers the driver uses. */
#ifndef FAKE_LINUX_ERRNO_H
#define FAKE_LINUX_ERRNO_H
#define EIO	5
#define ENOMEM	12
#define EFAULT	14
#define EBUSY	16
#define EINVAL	22
#endif
