/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The driver is written against the router's own kernel (3.3): legacy
 * procfs with read_proc/write_proc callbacks, timers that take an
 * unsigned long and are set up with init_timer_key(), and the SoC's
 * exported GPIO register block. Newer kernels dropped the first two;
 * this header gives the driver the same calls there.
 */
#ifndef LUMABAR_COMPAT_H
#define LUMABAR_COMPAT_H

#include <linux/version.h>
#include <linux/proc_fs.h>
#include <linux/timer.h>

/* Mapped GPIO register block, owned by the SoC support code. */
extern void __iomem *ath79_gpio_base;

#if LINUX_VERSION_CODE < KERNEL_VERSION(3, 10, 0)

/* The legacy proc entry carries the callbacks itself. */
#define legacy_proc_entry proc_dir_entry

#define TIMER_FN_ARG unsigned long

#define legacy_timer_init(timer, fn)				\
	do {							\
		init_timer_key((timer), NULL, NULL);		\
		(timer)->function = (fn);			\
	} while (0)

#elif LINUX_VERSION_CODE >= KERNEL_VERSION(5, 6, 0)

#include <linux/fs.h>
#include <linux/gfp.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#if LINUX_VERSION_CODE < KERNEL_VERSION(5, 17, 0)
#define pde_data PDE_DATA
#endif

typedef int (read_proc_t)(char *page, char **start, off_t off, int count,
			  int *eof, void *data);
typedef int (write_proc_t)(struct file *file, const char __user *buffer,
			   unsigned long count, void *data);

/*
 * A file created through create_proc_entry(): the callbacks are filled
 * in after creation, as the legacy interface did, so the file
 * operations look them up on every call and answer -EIO until set.
 */
struct legacy_proc_entry {
	struct proc_dir_entry *pde;
	struct proc_dir_entry *parent;
	const char *name;
	read_proc_t *read_proc;
	write_proc_t *write_proc;
	void *data;
};

/* Nothing is allocated: the driver has two files. */
#define LEGACY_PROC_SLOTS 4
static struct legacy_proc_entry legacy_proc_slots[LEGACY_PROC_SLOTS];

/*
 * The legacy read_proc contract used here: the callback writes its whole
 * text at the start of a page and returns the length; the proc layer
 * hands the reader the bytes from its offset on.
 */
static ssize_t legacy_proc_read(struct file *file, char __user *buf,
				size_t count, loff_t *ppos)
{
	struct legacy_proc_entry *e = pde_data(file_inode(file));
	read_proc_t *read_proc = READ_ONCE(e->read_proc);
	char *page, *start = NULL;
	loff_t pos = *ppos;
	int eof = 0, len;
	ssize_t ret;

	if (!read_proc)
		return -EIO;
	if (pos < 0)
		return -EINVAL;
	if (pos >= PAGE_SIZE || !count)
		return 0;

	page = (char *)__get_free_page(GFP_KERNEL);
	if (!page)
		return -ENOMEM;

	len = read_proc(page, &start, pos, min_t(size_t, count, PAGE_SIZE),
			&eof, e->data);
	if (len < 0) {
		ret = len;
	} else {
		size_t n;

		len = min_t(int, len, PAGE_SIZE);
		if (pos >= len) {
			ret = 0;
		} else {
			n = min_t(size_t, len - pos, count);
			if (copy_to_user(buf, page + pos, n)) {
				ret = -EFAULT;
			} else {
				*ppos = pos + n;
				ret = n;
			}
		}
	}
	free_page((unsigned long)page);
	return ret;
}

static ssize_t legacy_proc_write(struct file *file, const char __user *buf,
				 size_t count, loff_t *ppos)
{
	struct legacy_proc_entry *e = pde_data(file_inode(file));
	write_proc_t *write_proc = READ_ONCE(e->write_proc);

	if (!write_proc)
		return -EIO;
	return write_proc(file, buf, count, e->data);
}

static const struct proc_ops legacy_proc_ops = {
	.proc_read	= legacy_proc_read,
	.proc_write	= legacy_proc_write,
	.proc_lseek	= default_llseek,
};

static inline struct legacy_proc_entry *
create_proc_entry(const char *name, umode_t mode, struct proc_dir_entry *parent)
{
	struct legacy_proc_entry *e;
	int i;

	for (i = 0; i < LEGACY_PROC_SLOTS; i++) {
		e = &legacy_proc_slots[i];
		if (e->name)
			continue;
		e->name = name;
		e->parent = parent;
		e->read_proc = NULL;
		e->write_proc = NULL;
		e->data = NULL;
		e->pde = proc_create_data(name, mode, parent,
					  &legacy_proc_ops, e);
		if (!e->pde) {
			e->name = NULL;
			return NULL;
		}
		return e;
	}
	return NULL;
}

/* Removal waits for callers still inside the file; free the slot after. */
static inline void legacy_remove_proc_entry(const char *name,
					    struct proc_dir_entry *parent)
{
	int i;

	remove_proc_entry(name, parent);
	for (i = 0; i < LEGACY_PROC_SLOTS; i++) {
		struct legacy_proc_entry *e = &legacy_proc_slots[i];

		if (e->name && e->parent == parent && !strcmp(e->name, name)) {
			e->pde = NULL;
			e->name = NULL;
		}
	}
}
#define remove_proc_entry legacy_remove_proc_entry

#define TIMER_FN_ARG struct timer_list *

#define legacy_timer_init(timer, fn) timer_setup((timer), (fn), 0)

#else
#error "lumabar supports kernels before 3.10 (legacy procfs) and from 5.6 on"
#endif

#endif /* LUMABAR_COMPAT_H */
