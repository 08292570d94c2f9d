/*
 * client.c - broker connections: credentials, HELLO, input and output queues
 */
#include <grp.h>
#include <malloc.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ubusd.h"

/* clients with output waiting for the end of the current input pass */
static LIST_HEAD(flush_clients);
static LIST_HEAD(dead_clients);

/* output beyond this is written at once instead of waiting for the pass to end */
#define TX_BATCH	65536

/*
 * An idle connection holds no buffers. One of the small size goes back to
 * the spares as soon as it is empty; a larger one, grown for a large
 * message, stays while the connection keeps busy and is freed at the first
 * sweep that finds it quiet for a whole period.
 */
#define BUF_SMALL	4096
#define SWEEP_MS	300

/* empty small buffers for whichever connection needs one next */
#define SPARES		4
static void *spares[SPARES];
static int nspares;

static void sweep_cb(struct uloop_timeout *t);
static struct uloop_timeout sweep_timer = { .cb = sweep_cb };
/* large buffers were freed: the allocator has pages to hand back */
static bool trim_pending;

static void *buf_get(void)
{
	return nspares ? spares[--nspares] : malloc(BUF_SMALL);
}

static void buf_release(void *buf, size_t cap)
{
	if (cap == BUF_SMALL && nspares < SPARES) {
		spares[nspares++] = buf;
		return;
	}
	if (cap > BUF_SMALL)
		trim_pending = true;
	free(buf);
}

static const char *user_lookup(unsigned long uid)
{
	struct passwd *pw = getpwuid((uid_t) uid);

	return pw ? pw->pw_name : NULL;
}

static const char *group_lookup(unsigned long gid)
{
	struct group *gr = getgrgid((gid_t) gid);

	return gr ? gr->gr_name : NULL;
}

/* one connection after another usually comes from the same user */
struct name_cache {
	const char *(*lookup)(unsigned long id);
	unsigned long id;
	char *name;
};

static struct name_cache user_names = { .lookup = user_lookup };
static struct name_cache group_names = { .lookup = group_lookup };

/* A copy of the name of id, NULL when it has none. */
static char *cached_name(struct name_cache *c, unsigned long id)
{
	const char *name;

	if (c->name && c->id == id)
		return strdup(c->name);
	name = c->lookup(id);
	if (!name)
		return NULL;
	free(c->name);
	c->name = strdup(name);
	c->id = id;
	return c->name ? strdup(c->name) : NULL;
}

static void client_watch(struct ubusd_client *cl)
{
	unsigned int flags = cl->held_by ? 0 : ULOOP_READ;

	if (cl->tx_blocked)
		flags |= ULOOP_WRITE;
	if (cl->sock.cb)
		uloop_fd_add(&cl->sock, flags);
}

/* Releases the empty buffers allowed to go; true while a grown one stays. */
static bool client_shrink(struct ubusd_client *cl, bool idle)
{
	size_t cap = cl->rx.cap;

	if (cap && (cap == BUF_SMALL || idle) && ubus_rx_empty(&cl->rx))
		buf_release(ubus_rx_detach(&cl->rx), cap);
	if (cl->txcap && (cl->txcap == BUF_SMALL || idle) && cl->txoff == cl->txlen) {
		buf_release(cl->tx, cl->txcap);
		cl->tx = NULL;
		cl->txoff = cl->txlen = cl->txcap = 0;
	}
	return cl->rx.cap > BUF_SMALL || cl->txcap > BUF_SMALL;
}

/* Storage to read into, from the spares when the connection has none. */
static void client_rx_ready(struct ubusd_client *cl)
{
	void *buf;

	if (cl->rx.cap)
		return;
	/* without it the buffer allocates for itself, and fails as it may */
	buf = buf_get();
	if (buf)
		ubus_rx_attach(&cl->rx, buf, BUF_SMALL);
}

/* After traffic: small buffers go now, grown ones at a sweep. */
static void client_settle(struct ubusd_client *cl)
{
	bool grown = client_shrink(cl, false);

	cl->busy = true;
	/* the sweep also ends holds on owners that got stuck */
	if ((grown || cl->held_by) && !sweep_timer.pending)
		uloop_timeout_set(&sweep_timer, SWEEP_MS);
}

static void sweep_cb(struct uloop_timeout *t)
{
	struct ubusd_client *cl;
	bool again = false;

	avl_for_each_element(&ubusd_clients, cl, avl) {
		bool idle = !cl->busy;

		cl->busy = false;
		if (client_shrink(cl, idle))
			again = true;
		if (ubusd_flow_sweep(cl))
			again = true;
	}
	/* freed chunks inside the heap stay private dirty until trimmed */
	if (trim_pending) {
		malloc_trim(0);
		trim_pending = false;
	}
	if (again)
		uloop_timeout_set(t, SWEEP_MS);
	ubusd_flush();
	ubusd_reap();
}

static void client_flush(struct ubusd_client *cl)
{
	bool was_blocked = cl->tx_blocked;
	size_t start = cl->txoff;

	list_del_init(&cl->flush_list);
	while (cl->txoff < cl->txlen) {
		ssize_t n = send(cl->sock.fd, cl->tx + cl->txoff, cl->txlen - cl->txoff,
				 MSG_NOSIGNAL | MSG_DONTWAIT);

		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno != EAGAIN && errno != EWOULDBLOCK) {
				ubusd_client_kill(cl);
				return;
			}
			/* the peer is not reading: wait until it does */
			cl->tx_blocked = true;
			if (!was_blocked)
				client_watch(cl);
			if (!was_blocked || cl->txoff != start)
				ubusd_flow_sent(cl);
			return;
		}
		cl->txoff += n;
	}
	cl->txoff = cl->txlen = 0;
	cl->tx_blocked = false;
	client_settle(cl);
	if (was_blocked)
		client_watch(cl);
	ubusd_flow_sent(cl);
}

void ubusd_flush(void)
{
	do {
		while (!list_empty(&flush_clients)) {
			struct ubusd_client *cl = list_first_entry(&flush_clients, struct ubusd_client, flush_list);

			if (cl->dead)
				list_del_init(&cl->flush_list);
			else
				client_flush(cl);
		}
	} while (ubusd_flow_resume());
}

static bool tx_reserve(struct ubusd_client *cl, size_t len)
{
	size_t cap;
	uint8_t *tx;

	if (cl->txoff && cl->txcap - cl->txlen < len) {
		memmove(cl->tx, cl->tx + cl->txoff, cl->txlen - cl->txoff);
		cl->txlen -= cl->txoff;
		cl->txoff = 0;
	}
	if (cl->txcap - cl->txlen >= len)
		return true;
	if (!cl->txcap && len <= BUF_SMALL) {
		cl->tx = buf_get();
		cl->txcap = cl->tx ? BUF_SMALL : 0;
		return cl->tx != NULL;
	}
	cap = cl->txcap ? cl->txcap : BUF_SMALL;
	while (cap - cl->txlen < len)
		cap *= 2;
	tx = realloc(cl->tx, cap);
	if (!tx)
		return false;
	cl->tx = tx;
	cl->txcap = cap;
	return true;
}

uint8_t *ubusd_send_reserve(struct ubusd_client *cl, uint8_t version, uint8_t type,
			   uint16_t seq, uint32_t peer, size_t rootlen)
{
	struct ubus_msghdr hdr = {
		.version = version,
		.type = type,
		.seq = cpu_to_be16(seq),
		.peer = cpu_to_be32(peer),
	};
	size_t total = sizeof(hdr) + rootlen;

	if (cl->dead)
		return NULL;
	/* a client that does not read loses what does not fit */
	if (cl->tx_blocked && cl->txlen - cl->txoff + total > UBUSD_TXQ_LIMIT)
		return NULL;
	if (!tx_reserve(cl, total)) {
		/* dropping part of the stream would desynchronise the peer */
		if (cl->txlen > cl->txoff)
			ubusd_client_kill(cl);
		return NULL;
	}
	memcpy(cl->tx + cl->txlen, &hdr, sizeof(hdr));
	return cl->tx + cl->txlen + sizeof(hdr);
}

void ubusd_send_commit(struct ubusd_client *cl, size_t rootlen)
{
	cl->txlen += sizeof(struct ubus_msghdr) + rootlen;
	if (cl->tx_blocked)
		return;
	/*
	 * Everything one input pass produces for a client leaves in one write:
	 * a call's DATA and STATUS then wake the caller once.
	 */
	if (cl->txlen - cl->txoff >= TX_BATCH)
		client_flush(cl);
	else if (list_empty(&cl->flush_list))
		list_add_tail(&cl->flush_list, &flush_clients);
}

void ubusd_send_msg(struct ubusd_client *cl, uint8_t version, uint8_t type,
		    uint16_t seq, uint32_t peer, const void *root, size_t rootlen)
{
	uint8_t *p = ubusd_send_reserve(cl, version, type, seq, peer, rootlen);

	if (!p)
		return;
	memcpy(p, root, rootlen);
	ubusd_send_commit(cl, rootlen);
}

void ubusd_send_status(struct ubusd_client *cl, const struct ubus_msghdr *req, int status)
{
	uint32_t body[3] = {
		cpu_to_be32(12),
		cpu_to_be32((UBUS_ATTR_STATUS << BLOB_ATTR_ID_SHIFT) | 8),
		cpu_to_be32((uint32_t) status),
	};

	ubusd_send_msg(cl, 0, UBUS_MSG_STATUS, req->seq, req->peer, body, sizeof(body));
}

/* Dispatches every complete message; false once the client is dead. */
static bool client_process(struct ubusd_client *cl)
{
	uint8_t *msg;
	size_t total;
	int ret;

	while (!cl->dead && !cl->held_by && (ret = ubus_rx_peek(&cl->rx, &msg, &total)) != 0) {
		const struct ubus_msghdr *raw = (const struct ubus_msghdr *) msg;
		struct ubus_msghdr hdr;

		if (ret < 0) {
			ubusd_client_kill(cl);
			break;
		}
		hdr.version = raw->version;
		hdr.type = raw->type;
		hdr.seq = be16_to_cpu(raw->seq);
		hdr.peer = be32_to_cpu(raw->peer);
		ubusd_dispatch(cl, &hdr, (struct blob_attr *) (msg + sizeof(*raw)));
		ubus_rx_consume(&cl->rx, total);
	}
	return !cl->dead;
}

bool ubusd_client_feed(struct ubusd_client *cl, const void *data, size_t len)
{
	const uint8_t *p = data;

	while (len && !cl->dead) {
		size_t room;
		uint8_t *dst;

		client_rx_ready(cl);
		dst = ubus_rx_space(&cl->rx, &room);
		if (!dst) {
			ubusd_client_kill(cl);
			break;
		}
		if (room > len)
			room = len;
		memcpy(dst, p, room);
		ubus_rx_commit(&cl->rx, room);
		p += room;
		len -= room;
		client_process(cl);
	}
	if (!cl->dead)
		client_settle(cl);
	ubusd_flush();
	return !cl->dead;
}

void ubusd_client_resume(struct ubusd_client *cl)
{
	client_process(cl);
	if (cl->dead)
		return;
	client_watch(cl);
	client_settle(cl);
}

static void client_read(struct ubusd_client *cl)
{
	struct uloop_fd *u = &cl->sock;

	/* the socket keeps the rest until the hold ends */
	if (cl->held_by)
		return;
	for (;;) {
		ssize_t n;

		client_rx_ready(cl);
		n = ubus_rx_read(&cl->rx, u->fd);
		if (n > 0) {
			if (!client_process(cl))
				return;
			if (cl->held_by) {
				client_watch(cl);
				client_settle(cl);
				return;
			}
			/* after a hang-up the loop no longer reports the rest */
			if (!u->registered || u->eof)
				continue;
		} else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !u->registered) {
			ubusd_client_kill(cl);
			return;
		}
		client_settle(cl);
		return;
	}
}

static void client_cb(struct uloop_fd *u, unsigned int events)
{
	struct ubusd_client *cl = container_of(u, struct ubusd_client, sock);

	if (events & ULOOP_WRITE)
		client_flush(cl);
	if (!cl->dead && (events & ULOOP_READ || !events || !u->registered))
		client_read(cl);
	ubusd_flush();
	ubusd_reap();
}

struct ubusd_client *ubusd_client_new(int fd, bool watch)
{
	static const uint8_t empty_root[4] = { 0, 0, 0, 4 };
	struct ubusd_client *cl;
	struct ucred cred;
	socklen_t len = sizeof(cred);

	if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) < 0)
		goto fail;
	cl = calloc(1, sizeof(*cl));
	if (!cl)
		goto fail;
	cl->user = cached_name(&user_names, cred.uid);
	cl->group = cached_name(&group_names, cred.gid);
	/* peers without a passwd/group entry are turned away, as on the router */
	if (!cl->user || !cl->group || !ubusd_alloc_id(&ubusd_clients, &cl->id)) {
		free(cl->user);
		free(cl->group);
		free(cl);
		goto fail;
	}
	INIT_LIST_HEAD(&cl->objects);
	INIT_LIST_HEAD(&cl->flush_list);
	INIT_LIST_HEAD(&cl->dead_list);
	INIT_LIST_HEAD(&cl->hold_list);
	INIT_LIST_HEAD(&cl->held);
	cl->sock.fd = fd;
	cl->avl.key = &cl->id;
	avl_insert(&ubusd_clients, &cl->avl);
	if (watch) {
		cl->sock.cb = client_cb;
		uloop_fd_add(&cl->sock, ULOOP_READ);
	}
	ubusd_send_msg(cl, 0, UBUS_MSG_HELLO, 0, cl->id, empty_root, sizeof(empty_root));
	return cl;

fail:
	close(fd);
	return NULL;
}

void ubusd_client_kill(struct ubusd_client *cl)
{
	if (cl->dead)
		return;
	cl->dead = true;
	list_add_tail(&cl->dead_list, &dead_clients);
	/* its queue will not drain any more */
	ubusd_flow_release(cl);
}

void ubusd_client_free(struct ubusd_client *cl)
{
	/* newest first, the order their removal is announced in */
	while (!list_empty(&cl->objects))
		ubusd_object_free(list_last_entry(&cl->objects, struct ubusd_object, list));
	list_del(&cl->flush_list);
	ubusd_flow_forget(cl);
	if (cl->txcap)
		buf_release(cl->tx, cl->txcap);
	if (cl->rx.cap)
		buf_release(cl->rx.buf, cl->rx.cap);
	if (trim_pending && !sweep_timer.pending)
		uloop_timeout_set(&sweep_timer, SWEEP_MS);
	if (cl->dead)
		list_del(&cl->dead_list);
	avl_delete(&ubusd_clients, &cl->avl);
	uloop_fd_delete(&cl->sock);
	close(cl->sock.fd);
	free(cl->user);
	free(cl->group);
	free(cl);
}

void ubusd_reap(void)
{
	while (!list_empty(&dead_clients)) {
		struct ubusd_client *cl = list_first_entry(&dead_clients, struct ubusd_client, dead_list);

		ubusd_client_free(cl);
	}
}

void ubusd_free_all(void)
{
	struct ubusd_client *cl, *tmp;

	ubusd_reap();
	avl_for_each_element_safe(&ubusd_clients, cl, avl, tmp)
		ubusd_client_free(cl);
	uloop_timeout_cancel(&sweep_timer);
	while (nspares)
		free(spares[--nspares]);
}
