/*
 * utils.h - small helpers shared by the libubox headers
 */
#ifndef __LIBUBOX_UTILS_H
#define __LIBUBOX_UTILS_H

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/time.h>
#include <stdint.h>
#include <stdbool.h>
#include <stddef.h>
#include <unistd.h>
#include <time.h>

#ifdef __linux__
#include <byteswap.h>
#include <endian.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One zeroed allocation holding several objects: calloc_a(len, &p2, len2, ...).
 * Every chunk is rounded up to sizeof(size_t); the extra chunk addresses are
 * stored through the void ** arguments. The lengths must be size_t values.
 */
#define calloc_a(len, ...) __calloc_a(len, ##__VA_ARGS__, NULL)
void *__calloc_a(size_t len, ...);

#ifndef ARRAY_SIZE
#define ARRAY_SIZE(arr) (sizeof(arr) / sizeof((arr)[0]))
#endif

/* Compile-time assertion, usable as a statement. */
#define BUILD_BUG_ON(condition) ((void)sizeof(char[1 - 2 * !!(condition)]))

#define __constant_swap16(x) ((uint16_t)( \
	(((uint16_t)(x) & (uint16_t)0x00ffU) << 8) | \
	(((uint16_t)(x) & (uint16_t)0xff00U) >> 8)))

#define __constant_swap32(x) ((uint32_t)( \
	(((uint32_t)(x) & (uint32_t)0x000000ffUL) << 24) | \
	(((uint32_t)(x) & (uint32_t)0x0000ff00UL) <<  8) | \
	(((uint32_t)(x) & (uint32_t)0x00ff0000UL) >>  8) | \
	(((uint32_t)(x) & (uint32_t)0xff000000UL) >> 24)))

#define __constant_swap64(x) ((uint64_t)( \
	(((uint64_t)(x) & (uint64_t)0x00000000000000ffULL) << 56) | \
	(((uint64_t)(x) & (uint64_t)0x000000000000ff00ULL) << 40) | \
	(((uint64_t)(x) & (uint64_t)0x0000000000ff0000ULL) << 24) | \
	(((uint64_t)(x) & (uint64_t)0x00000000ff000000ULL) <<  8) | \
	(((uint64_t)(x) & (uint64_t)0x000000ff00000000ULL) >>  8) | \
	(((uint64_t)(x) & (uint64_t)0x0000ff0000000000ULL) >> 24) | \
	(((uint64_t)(x) & (uint64_t)0x00ff000000000000ULL) >> 40) | \
	(((uint64_t)(x) & (uint64_t)0xff00000000000000ULL) >> 56)))

#define __ubox_swap16(x) ((uint16_t)__builtin_bswap16((uint16_t)(x)))
#define __ubox_swap32(x) ((uint32_t)__builtin_bswap32((uint32_t)(x)))
#define __ubox_swap64(x) ((uint64_t)__builtin_bswap64((uint64_t)(x)))

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__

#define cpu_to_be64(x) __ubox_swap64(x)
#define cpu_to_be32(x) __ubox_swap32(x)
#define cpu_to_be16(x) __ubox_swap16(x)

#define const_cpu_to_be64(x) __constant_swap64(x)
#define const_cpu_to_be32(x) __constant_swap32(x)
#define const_cpu_to_be16(x) __constant_swap16(x)

#define cpu_to_le64(x) ((uint64_t)(x))
#define cpu_to_le32(x) ((uint32_t)(x))
#define cpu_to_le16(x) ((uint16_t)(x))

#define const_cpu_to_le64(x) ((uint64_t)(x))
#define const_cpu_to_le32(x) ((uint32_t)(x))
#define const_cpu_to_le16(x) ((uint16_t)(x))

#else /* big endian */

#define cpu_to_le64(x) __ubox_swap64(x)
#define cpu_to_le32(x) __ubox_swap32(x)
#define cpu_to_le16(x) __ubox_swap16(x)

#define const_cpu_to_le64(x) __constant_swap64(x)
#define const_cpu_to_le32(x) __constant_swap32(x)
#define const_cpu_to_le16(x) __constant_swap16(x)

#define cpu_to_be64(x) ((uint64_t)(x))
#define cpu_to_be32(x) ((uint32_t)(x))
#define cpu_to_be16(x) ((uint16_t)(x))

#define const_cpu_to_be64(x) ((uint64_t)(x))
#define const_cpu_to_be32(x) ((uint32_t)(x))
#define const_cpu_to_be16(x) ((uint16_t)(x))

#endif

#define be64_to_cpu(x) cpu_to_be64(x)
#define be32_to_cpu(x) cpu_to_be32(x)
#define be16_to_cpu(x) cpu_to_be16(x)

#define const_be64_to_cpu(x) const_cpu_to_be64(x)
#define const_be32_to_cpu(x) const_cpu_to_be32(x)
#define const_be16_to_cpu(x) const_cpu_to_be16(x)

#define le64_to_cpu(x) cpu_to_le64(x)
#define le32_to_cpu(x) cpu_to_le32(x)
#define le16_to_cpu(x) cpu_to_le16(x)

#define const_le64_to_cpu(x) const_cpu_to_le64(x)
#define const_le32_to_cpu(x) const_cpu_to_le32(x)
#define const_le16_to_cpu(x) const_cpu_to_le16(x)

#ifndef __packed
#define __packed __attribute__((packed))
#endif

#ifndef __constructor
#define __constructor __attribute__((constructor))
#endif

#ifndef __destructor
#define __destructor __attribute__((destructor))
#endif

#ifndef __hidden
#define __hidden __attribute__((visibility("hidden")))
#endif

/* C++ code has [[fallthrough]]; a macro of that name would break it. */
#if !defined(__cplusplus) && !defined(fallthrough)
#if defined(__has_attribute)
#if __has_attribute(__fallthrough__)
#define fallthrough __attribute__((__fallthrough__))
#endif
#endif
#ifndef fallthrough
#define fallthrough do {} while (0)
#endif
#endif

#ifdef __cplusplus
}
#endif

#endif
