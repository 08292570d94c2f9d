/*
 * flow.c - callers held back while an object owner works through its calls
 *
 * A client calling faster than an owner answers would fill the owner's
 * queue to its limit, and the calls beyond it, other clients' among them,
 * would be dropped. Instead a caller whose call leaves the owner's queue
 * above FLOW_HIGH is no longer read until the queue is down to FLOW_LOW:
 * its own socket buffer then holds it back while the others get their calls
 * in. An owner that takes nothing for FLOW_STALL_MS holds nobody: callers
 * of a stuck process, or of one waiting on them in turn, go on, and its
 * queue overflows as for any client that does not read.
 */
#include <time.h>

#include "ubusd.h"

#define FLOW_HIGH	(64 * 1024)
#define FLOW_LOW	(FLOW_HIGH / 2)
#define FLOW_STALL_MS	1000

/* let go, with input left in their buffers for the next flush */
static LIST_HEAD(released);

static int64_t now_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t) ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static size_t pending(const struct ubusd_client *cl)
{
	return cl->txlen - cl->txoff;
}

static bool stalled(const struct ubusd_client *owner)
{
	return owner->tx_blocked && now_ms() - owner->tx_moved >= FLOW_STALL_MS;
}

void ubusd_flow_called(struct ubusd_client *caller, struct ubusd_client *owner)
{
	/* an owner calling itself would wait for its own input */
	if (caller == owner || caller->held_by || owner->dead)
		return;
	if (pending(owner) <= FLOW_HIGH || stalled(owner))
		return;
	caller->held_by = owner;
	list_move_tail(&caller->hold_list, &owner->held);
}

void ubusd_flow_release(struct ubusd_client *owner)
{
	while (!list_empty(&owner->held)) {
		struct ubusd_client *cl = list_first_entry(&owner->held, struct ubusd_client, hold_list);

		cl->held_by = NULL;
		list_move_tail(&cl->hold_list, &released);
	}
}

void ubusd_flow_sent(struct ubusd_client *owner)
{
	if (owner->tx_blocked)
		owner->tx_moved = now_ms();
	if (pending(owner) <= FLOW_LOW)
		ubusd_flow_release(owner);
}

bool ubusd_flow_sweep(struct ubusd_client *owner)
{
	if (list_empty(&owner->held))
		return false;
	if (!stalled(owner))
		return true;
	ubusd_flow_release(owner);
	return false;
}

void ubusd_flow_forget(struct ubusd_client *cl)
{
	ubusd_flow_release(cl);
	list_del_init(&cl->hold_list);
	cl->held_by = NULL;
}

bool ubusd_flow_resume(void)
{
	bool any = !list_empty(&released);

	while (!list_empty(&released)) {
		struct ubusd_client *cl = list_first_entry(&released, struct ubusd_client, hold_list);

		list_del_init(&cl->hold_list);
		if (!cl->dead)
			ubusd_client_resume(cl);
	}
	return any;
}
