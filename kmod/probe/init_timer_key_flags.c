/* init_timer_key with a flags argument (3.7 to 4.14). */
#include <linux/timer.h>

void lumabar_probe(struct timer_list *t);
void lumabar_probe(struct timer_list *t)
{
	init_timer_key(t, 0, NULL, NULL);
}
