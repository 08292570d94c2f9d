/* Fake kernel: module entry points and module information. */
#ifndef FAKE_LINUX_MODULE_H
#define FAKE_LINUX_MODULE_H
#include <linux/kernel.h>

#define THIS_MODULE ((struct module *)0)

int init_module(void);
void cleanup_module(void);

/* Kept as plain symbols so a test can look them up in the loaded object. */
#define MODULE_LICENSE(s) const char fk_modinfo_license[] = s
#define MODULE_DESCRIPTION(s) const char fk_modinfo_description[] = s
#endif
