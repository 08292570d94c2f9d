/* Fake kernel: procfs. 3.3 has the legacy entries with callbacks;
 * from 3.10 files come with file_operations, from 5.6 with proc_ops. */
#ifndef FAKE_LINUX_PROC_FS_H
#define FAKE_LINUX_PROC_FS_H
#include <linux/fs.h>
#include <linux/types.h>

#if FK_ERA < 310
typedef int (read_proc_t)(char *page, char **start, off_t off, int count,
			  int *eof, void *data);
typedef int (write_proc_t)(struct file *file, const char __user *buffer,
			   unsigned long count, void *data);

struct proc_dir_entry {
	const char *name;
	umode_t mode;
	struct proc_dir_entry *parent;
	read_proc_t *read_proc;
	write_proc_t *write_proc;
	void *data;
	/* fake kernel's own */
	int fk_used;
	char fk_name[32];
};

struct proc_dir_entry *create_proc_entry(const char *name, umode_t mode,
					 struct proc_dir_entry *parent);
#else
struct proc_dir_entry;
#endif

#if FK_ERA >= 506
struct proc_ops {
	ssize_t (*proc_read)(struct file *, char __user *, size_t, loff_t *);
	ssize_t (*proc_write)(struct file *, const char __user *, size_t, loff_t *);
	loff_t (*proc_lseek)(struct file *, loff_t, int);
};
#define FK_PROC_OPS struct proc_ops
#else
#define FK_PROC_OPS struct file_operations
#endif

struct proc_dir_entry *proc_mkdir(const char *name,
				  struct proc_dir_entry *parent);
struct proc_dir_entry *proc_create_data(const char *name, umode_t mode,
					struct proc_dir_entry *parent,
					const FK_PROC_OPS *ops, void *data);
void remove_proc_entry(const char *name, struct proc_dir_entry *parent);
#endif
