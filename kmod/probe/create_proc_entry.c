/* Legacy procfs: entries that carry read_proc/write_proc (gone in 3.10). */
#include <linux/proc_fs.h>

void lumabar_probe(void);
void lumabar_probe(void)
{
	struct proc_dir_entry *e = create_proc_entry("probe", 0644, NULL);

	e->read_proc = NULL;
	e->write_proc = NULL;
}
