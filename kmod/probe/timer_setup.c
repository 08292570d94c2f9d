/* Timer callbacks that take the timer itself (4.14/4.15). */
#include <linux/timer.h>

static void lumabar_probe_fn(struct timer_list *t)
{
}

void lumabar_probe(struct timer_list *t);
void lumabar_probe(struct timer_list *t)
{
	timer_setup(t, lumabar_probe_fn, 0);
}
