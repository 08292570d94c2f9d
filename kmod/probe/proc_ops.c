/* proc files take a struct proc_ops rather than file_operations (5.6). */
#include <linux/proc_fs.h>

static const struct proc_ops lumabar_probe_ops;

void *lumabar_probe(void);
void *lumabar_probe(void)
{
	return proc_create_data("probe", 0644, NULL, &lumabar_probe_ops, NULL);
}
