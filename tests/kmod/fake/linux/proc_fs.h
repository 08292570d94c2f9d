/* Fake kernel: the legacy procfs interface. */
#ifndef FAKE_LINUX_PROC_FS_H
#define FAKE_LINUX_PROC_FS_H
#include <linux/types.h>

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

struct proc_dir_entry *proc_mkdir(const char *name,
				  struct proc_dir_entry *parent);
struct proc_dir_entry *create_proc_entry(const char *name, umode_t mode,
					 struct proc_dir_entry *parent);
void remove_proc_entry(const char *name, struct proc_dir_entry *parent);
#endif
