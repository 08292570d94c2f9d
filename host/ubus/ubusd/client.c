/*
 * client.c - broker connections: credentials, HELLO, input and output queues
 */
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "ubusd.h"

struct txbuf {
	struct list_head list;
	size_t len;
	size_t off;
	uint8_t data[];
};

static LIST_HEAD(dead_clients);

/* one connection after another usually comes from the same user */
static char *user_name(uid_t uid)
{
	static uid_t cached_uid = (uid_t) -1;
	static char *cached;
	struct passwd *pw;

	if (cached && cached_uid == uid)
		return strdup(cached);
	pw = getpwuid(uid);
	if (!pw)
		return NULL;
	free(cached);
	cached = strdup(pw->pw_name);
	cached_uid = uid;
	return cached ? strdup(cached) : NULL;
}

static char *group_name(gid_t gid)
{
	static gid_t cached_gid = (gid_t) -1;
	static char *cached;
	struct group *gr;

	if (cached && cached_gid == gid)
		return strdup(cached);
	gr = getgrgid(gid);
	if (!gr)
		return NULL;
	free(cached);
	cached = strdup(gr->gr_name);
	cached_gid = gid;
	return cached ? strdup(cached) : NULL;
}

static void client_watch(struct ubusd_client *cl)
{
	unsigned int flags = ULOOP_READ;

	if (!list_empty(&cl->txq))
		flags |= ULOOP_WRITE;
	if (cl->sock.registered || cl->sock.cb)
		uloop_fd_add(&cl->sock, flags);
}

static void client_flush(struct ubusd_client *cl)
{
	while (!list_empty(&cl->txq)) {
		struct txbuf *tb = list_first_entry(&cl->txq, struct txbuf, list);
		ssize_t n = send(cl->sock.fd, tb->data + tb->off, tb->len - tb->off,
				 MSG_NOSIGNAL | MSG_DONTWAIT);

		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno != EAGAIN && errno != EWOULDBLOCK)
				ubusd_client_kill(cl);
			return;
		}
		tb->off += n;
		cl->txq_bytes -= n;
		if (tb->off < tb->len)
			return;
		list_del(&tb->list);
		free(tb);
	}
	client_watch(cl);
}

static void client_queue(struct ubusd_client *cl, struct iovec *iov, int iovcnt, size_t skip)
{
	size_t len = 0, off = 0;
	struct txbuf *tb;

	for (int i = 0; i < iovcnt; i++)
		len += iov[i].iov_len;
	tb = malloc(sizeof(*tb) + len - skip);
	if (!tb) {
		/* a half-sent message cannot be dropped without breaking the stream */
		if (skip)
			ubusd_client_kill(cl);
		return;
	}
	for (int i = 0; i < iovcnt; i++) {
		size_t l = iov[i].iov_len;
		const uint8_t *p = iov[i].iov_base;

		if (skip >= l) {
			skip -= l;
			continue;
		}
		memcpy(tb->data + off, p + skip, l - skip);
		off += l - skip;
		skip = 0;
	}
	tb->len = off;
	tb->off = 0;
	list_add_tail(&tb->list, &cl->txq);
	cl->txq_bytes += off;
	client_watch(cl);
}

void ubusd_send_msg(struct ubusd_client *cl, uint8_t version, uint8_t type,
		    uint16_t seq, uint32_t peer, const void *root, size_t rootlen)
{
	struct ubus_msghdr hdr = {
		.version = version,
		.type = type,
		.seq = cpu_to_be16(seq),
		.peer = cpu_to_be32(peer),
	};
	struct iovec iov[2] = {
		{ .iov_base = &hdr, .iov_len = sizeof(hdr) },
		{ .iov_base = (void *) root, .iov_len = rootlen },
	};
	size_t total = sizeof(hdr) + rootlen;
	ssize_t n = 0;

	if (cl->dead)
		return;
	if (!list_empty(&cl->txq)) {
		/* a client that does not read loses what does not fit */
		if (cl->txq_bytes + total > UBUSD_TXQ_LIMIT)
			return;
		client_queue(cl, iov, 2, 0);
		return;
	}
	do {
		struct msghdr mh = { .msg_iov = iov, .msg_iovlen = 2 };

		n = sendmsg(cl->sock.fd, &mh, MSG_NOSIGNAL | MSG_DONTWAIT);
	} while (n < 0 && errno == EINTR);
	if (n == (ssize_t) total)
		return;
	if (n < 0) {
		if (errno != EAGAIN && errno != EWOULDBLOCK) {
			ubusd_client_kill(cl);
			return;
		}
		n = 0;
	}
	client_queue(cl, iov, 2, n);
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

	while (!cl->dead && (ret = ubus_rx_peek(&cl->rx, &msg, &total)) != 0) {
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
		uint8_t *dst = ubus_rx_space(&cl->rx, &room);

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
	return !cl->dead;
}

static void client_read(struct ubusd_client *cl)
{
	struct uloop_fd *u = &cl->sock;

	for (;;) {
		ssize_t n = ubus_rx_read(&cl->rx, u->fd);

		if (n > 0) {
			if (!client_process(cl))
				return;
			/* after a hang-up the loop no longer reports the rest */
			if (u->registered && !u->eof)
				return;
			continue;
		}
		if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && u->registered)
			return;
		ubusd_client_kill(cl);
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
	cl->user = user_name(cred.uid);
	cl->group = group_name(cred.gid);
	/* peers without a passwd/group entry are turned away, as on the router */
	if (!cl->user || !cl->group || !ubusd_alloc_id(&ubusd_clients, &cl->id)) {
		free(cl->user);
		free(cl->group);
		free(cl);
		goto fail;
	}
	INIT_LIST_HEAD(&cl->objects);
	INIT_LIST_HEAD(&cl->txq);
	INIT_LIST_HEAD(&cl->dead_list);
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
}

void ubusd_client_free(struct ubusd_client *cl)
{
	struct txbuf *tb, *ttmp;

	/* newest first, the order their removal is announced in */
	while (!list_empty(&cl->objects))
		ubusd_object_free(list_last_entry(&cl->objects, struct ubusd_object, list));
	list_for_each_entry_safe(tb, ttmp, &cl->txq, list) {
		list_del(&tb->list);
		free(tb);
	}
	if (cl->dead)
		list_del(&cl->dead_list);
	avl_delete(&ubusd_clients, &cl->avl);
	uloop_fd_delete(&cl->sock);
	close(cl->sock.fd);
	ubus_rx_free(&cl->rx);
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
}
