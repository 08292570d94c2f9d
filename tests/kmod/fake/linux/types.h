/* Fake kernel: basic types. */
#ifndef FAKE_LINUX_TYPES_H
#define FAKE_LINUX_TYPES_H
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

typedef uint32_t u32;
typedef unsigned short umode_t;

#define __user
#define __iomem
#define __force

struct file;
#endif
