/* timer_delete_sync (6.2, back-ported to stable trees; del_timer_sync
 * went away in 6.15). */
#include <linux/timer.h>

int lumabar_probe(struct timer_list *t);
int lumabar_probe(struct timer_list *t)
{
	return timer_delete_sync(t);
}
