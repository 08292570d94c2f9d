/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The driver's handlers keep the router kernel's (3.3) legacy procfs
 * callback forms; this header reaches them from every kernel since,
 * choosing by what the tree offers (LUMABAR_HAVE_*, found by the probes
 * under probe/ at build time), not by its version:
 *
 *   CREATE_PROC_ENTRY  entries carry read_proc/write_proc (up to 3.9)
 *   PROC_OPS           proc files take struct proc_ops (5.6 on), else
 *                      struct file_operations
 *   TIMER_SETUP        callbacks take the timer (4.14 on), else an
 *                      unsigned long, with
 *   INIT_TIMER_KEY_FLAGS  init_timer_key's flags argument (3.7 on)
 *   TIMER_DELETE_SYNC  timer_delete_sync (6.2 and stable back-ports;
 *                      del_timer_sync is gone from 6.15)
 *
 * Everything here has a lumabar_ name and holds no state: kernel names
 * are never redefined, so a back-ported kernel definition cannot clash.
 */
#ifndef LUMABAR_COMPAT_H
#define LUMABAR_COMPAT_H

#include <linux/fs.h>
#include <linux/module.h>
#include <linux/proc_fs.h>
#include <linux/timer.h>

/* Mapped GPIO register block, owned by the SoC support code. */
extern void __iomem *ath79_gpio_base;

typedef int (lumabar_read_fn)(char *page, char **start, off_t off, int count,
			      int *eof, void *data);
typedef int (lumabar_write_fn)(struct file *file, const char __user *buffer,
			       unsigned long count, void *data);

#ifdef LUMABAR_HAVE_CREATE_PROC_ENTRY

struct lumabar_proc_file {
	lumabar_read_fn *read;
	lumabar_write_fn *write;
};

#define LUMABAR_PROC_FILE(name, rd, wr) \
	static const struct lumabar_proc_file name = { rd, wr }

static inline struct proc_dir_entry *
lumabar_proc_create(const char *name, umode_t mode,
		    struct proc_dir_entry *parent,
		    const struct lumabar_proc_file *f)
{
	struct proc_dir_entry *e = create_proc_entry(name, mode, parent);

	if (!e)
		return NULL;
	e->write_proc = f->write;
	e->read_proc = f->read;
	return e;
}

#else /* !LUMABAR_HAVE_CREATE_PROC_ENTRY */

/* The driver's texts are one int and a newline. */
#define LUMABAR_READ_MAX	32

/* A legacy read callback writes its whole text; the reader gets it from
 * its offset on, and end of file past it. */
static inline ssize_t lumabar_proc_read(lumabar_read_fn *rd, char __user *buf,
					size_t count, loff_t *ppos)
{
	char text[LUMABAR_READ_MAX];
	char *start = NULL;
	int eof = 0;
	int len;

	len = rd(text, &start, 0, sizeof(text), &eof, NULL);
	if (len < 0)
		return len;
	return simple_read_from_buffer(buf, count, ppos, text, len);
}

/* The members of the proc file's operations, as the tree names them. */
#ifdef LUMABAR_HAVE_PROC_OPS
#define lumabar_proc_file proc_ops
#define LUMABAR_PROC_MEMBERS(rdf, wrf)					\
	.proc_read = rdf, .proc_write = wrf, .proc_lseek = default_llseek
#else
#define lumabar_proc_file file_operations
#define LUMABAR_PROC_MEMBERS(rdf, wrf)					\
	.owner = THIS_MODULE, .read = rdf, .write = wrf,		\
	.llseek = default_llseek
#endif

#define LUMABAR_PROC_FILE(name, rd, wr)					\
	static ssize_t name##_read(struct file *file, char __user *buf,	\
				   size_t count, loff_t *ppos)		\
	{								\
		return lumabar_proc_read(rd, buf, count, ppos);		\
	}								\
	static ssize_t name##_write(struct file *file,			\
				    const char __user *buf,		\
				    size_t count, loff_t *ppos)		\
	{								\
		return wr(file, buf, count, NULL);			\
	}								\
	static const struct lumabar_proc_file name = {			\
		LUMABAR_PROC_MEMBERS(name##_read, name##_write)		\
	}

static inline struct proc_dir_entry *
lumabar_proc_create(const char *name, umode_t mode,
		    struct proc_dir_entry *parent,
		    const struct lumabar_proc_file *ops)
{
	return proc_create_data(name, mode, parent, ops, NULL);
}

#endif /* LUMABAR_HAVE_CREATE_PROC_ENTRY */

#ifdef LUMABAR_HAVE_TIMER_SETUP

#define LUMABAR_TIMER_ARG struct timer_list *

static inline void lumabar_timer_init(struct timer_list *timer,
				      void (*fn)(struct timer_list *))
{
	timer_setup(timer, fn, 0);
}

#else

#define LUMABAR_TIMER_ARG unsigned long

static inline void lumabar_timer_init(struct timer_list *timer,
				      void (*fn)(unsigned long))
{
#ifdef LUMABAR_HAVE_INIT_TIMER_KEY_FLAGS
	init_timer_key(timer, 0, NULL, NULL);
#else
	init_timer_key(timer, NULL, NULL);
#endif
	timer->function = fn;
}

#endif /* LUMABAR_HAVE_TIMER_SETUP */

static inline int lumabar_timer_delete_sync(struct timer_list *timer)
{
#ifdef LUMABAR_HAVE_TIMER_DELETE_SYNC
	return timer_delete_sync(timer);
#else
	return del_timer_sync(timer);
#endif
}

#endif /* LUMABAR_COMPAT_H */
