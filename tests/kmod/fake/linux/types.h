/* Fake kernel: basic types, and which kernel generation the headers
 * mimic. FK_ERA is major * 100 + minor: 303 (the router's 3.3, the one
 * fake_kernel.c implements), or a later one the module must build for. */
#ifndef FAKE_LINUX_TYPES_H
#define FAKE_LINUX_TYPES_H
#ifndef FK_ERA
#define FK_ERA 303
#endif
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
