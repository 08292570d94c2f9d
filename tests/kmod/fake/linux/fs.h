/* Fake kernel: file operations and the read helper of libfs. */
#ifndef FAKE_LINUX_FS_H
#define FAKE_LINUX_FS_H
#include <linux/types.h>

struct module;

struct file_operations {
	struct module *owner;
	loff_t (*llseek)(struct file *, loff_t, int);
	ssize_t (*read)(struct file *, char __user *, size_t, loff_t *);
	ssize_t (*write)(struct file *, const char __user *, size_t, loff_t *);
};

loff_t default_llseek(struct file *file, loff_t offset, int whence);
ssize_t simple_read_from_buffer(void __user *to, size_t count, loff_t *ppos,
				const void *from, size_t available);
#endif
