/* Fake kernel: timers. Callbacks take an unsigned long before 4.15
 * (init_timer_key gains flags in 3.7), the timer itself after, set up
 * with timer_setup; timer_delete_sync arrives in 6.2 and del_timer_sync
 * leaves in 6.15. */
#ifndef FAKE_LINUX_TIMER_H
#define FAKE_LINUX_TIMER_H
#include <linux/types.h>

struct lock_class_key;

struct timer_list {
	unsigned long expires;
#if FK_ERA >= 415
	void (*function)(struct timer_list *);
#else
	void (*function)(unsigned long);
	unsigned long data;
#endif
	/* fake kernel's own */
	struct timer_list *fk_next;
	int fk_pending;
	int fk_init;
};

#if FK_ERA >= 415
void init_timer_key(struct timer_list *timer,
		    void (*func)(struct timer_list *), unsigned int flags,
		    const char *name, struct lock_class_key *key);
#define timer_setup(timer, callback, flags) \
	init_timer_key((timer), (callback), (flags), NULL, NULL)
#elif FK_ERA >= 307
void init_timer_key(struct timer_list *timer, unsigned int flags,
		    const char *name, struct lock_class_key *key);
#else
void init_timer_key(struct timer_list *timer, const char *name,
		    struct lock_class_key *key);
#endif
void add_timer(struct timer_list *timer);
int del_timer(struct timer_list *timer);
#if FK_ERA < 615
int del_timer_sync(struct timer_list *timer);
#endif
#if FK_ERA >= 602
int timer_delete_sync(struct timer_list *timer);
#endif
#endif
