/* Fake kernel: the legacy timer interface. */
#ifndef FAKE_LINUX_TIMER_H
#define FAKE_LINUX_TIMER_H
#include <linux/types.h>

struct lock_class_key;

struct timer_list {
	unsigned long expires;
	void (*function)(unsigned long);
	unsigned long data;
	/* fake kernel's own */
	struct timer_list *fk_next;
	int fk_pending;
	int fk_init;
};

void init_timer_key(struct timer_list *timer, const char *name,
		    struct lock_class_key *key);
void add_timer(struct timer_list *timer);
int del_timer(struct timer_list *timer);
int del_timer_sync(struct timer_list *timer);
#endif
