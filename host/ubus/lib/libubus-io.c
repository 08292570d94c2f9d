/*
 * libubus-io.c - sending messages, reading and dispatching what arrives
 */
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include "libubus-internal.h"

static void wait_writable(int fd)
{
	struct pollfd pfd = { .fd = fd, .events = POLLOUT };

	poll(&pfd, 1, -1);
}

/* one message, header and root in one sendmsg() as far as the socket takes it */
static int write_iov(int fd, struct iovec *iov, int iovcnt)
{
	struct msghdr mh = { .msg_iov = iov, .msg_iovlen = iovcnt };

	while (mh.msg_iovlen) {
		/* send() costs the kernel less than gathering a vector */
		ssize_t n = mh.msg_iovlen == 1 ?
			send(fd, mh.msg_iov->iov_base, mh.msg_iov->iov_len, MSG_NOSIGNAL) :
			sendmsg(fd, &mh, MSG_NOSIGNAL);

		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno == EAGAIN || errno == EWOULDBLOCK) {
				wait_writable(fd);
				continue;
			}
			return -1;
		}
		while (mh.msg_iovlen && (size_t) n >= mh.msg_iov->iov_len) {
			n -= mh.msg_iov->iov_len;
			mh.msg_iov++;
			mh.msg_iovlen--;
		}
		if (mh.msg_iovlen) {
			mh.msg_iov->iov_base = (uint8_t *) mh.msg_iov->iov_base + n;
			mh.msg_iov->iov_len -= n;
		}
	}
	return 0;
}

int ubus_tx_flush(struct ubus_context *ctx)
{
	struct ubus_ctx_priv *priv = ubus_ctx_priv(ctx);
	struct iovec iov = { .iov_base = priv->tx, .iov_len = priv->txlen };
	int ret;

	if (!priv->txlen)
		return 0;
	ret = write_iov(ctx->sock.fd, &iov, 1);
	priv->txlen = 0;
	return ret;
}

/* A message's root may come in parts, to be sent one after the other. */
static size_t parts_len(const struct iovec *part, int nparts)
{
	size_t len = 0;
	int i;

	for (i = 0; i < nparts; i++)
		len += part[i].iov_len;
	return len;
}

/* the parts copied to p, one after the other; their end */
static uint8_t *put_parts(uint8_t *p, const struct iovec *part, int nparts)
{
	int i;

	for (i = 0; i < nparts; i++) {
		if (part[i].iov_len)
			memcpy(p, part[i].iov_base, part[i].iov_len);
		p += part[i].iov_len;
	}
	return p;
}

/* Holds the message back if corked and it fits; false if it must go now. */
static bool tx_hold(struct ubus_ctx_priv *priv, const struct ubus_msghdr *hdr,
		    const struct iovec *part, int nparts)
{
	size_t need = priv->txlen + sizeof(*hdr) + parts_len(part, nparts);

	if (!priv->cork || need > UBUS_MSG_CHUNK_SIZE)
		return false;
	if (need > priv->txcap) {
		uint8_t *tx = realloc(priv->tx, UBUS_MSG_CHUNK_SIZE);

		if (!tx)
			return false;
		priv->tx = tx;
		priv->txcap = UBUS_MSG_CHUNK_SIZE;
	}
	memcpy(priv->tx + priv->txlen, hdr, sizeof(*hdr));
	put_parts(priv->tx + priv->txlen + sizeof(*hdr), part, nparts);
	priv->txlen = need;
	return true;
}

static void fill_hdr(struct ubus_msghdr *hdr, uint16_t seq, int cmd, uint32_t peer)
{
	hdr->version = 0;
	hdr->type = cmd;
	hdr->seq = cpu_to_be16(seq);
	hdr->peer = cpu_to_be32(peer);
}

#define MSG_PARTS_MAX	5
/* a message up to this size is put together and sent as one buffer */
#define MSG_JOIN_MAX	512

/* One message whose root is the parts one after the other, now. */
static int send_parts_now(struct ubus_context *ctx, uint16_t seq, int cmd, uint32_t peer,
			  const struct iovec *part, int nparts)
{
	union {
		struct ubus_msghdr hdr;
		uint8_t bytes[MSG_JOIN_MAX];
	} msg;
	struct iovec iov[1 + MSG_PARTS_MAX] = {
		{ .iov_base = &msg.hdr, .iov_len = sizeof(msg.hdr) + parts_len(part, nparts) },
	};
	int i;

	fill_hdr(&msg.hdr, seq, cmd, peer);
	/* what is held back was produced first and goes first */
	if (ubus_tx_flush(ctx) < 0)
		return -1;
	if (iov[0].iov_len <= sizeof(msg)) {
		put_parts(msg.bytes + sizeof(msg.hdr), part, nparts);
		return write_iov(ctx->sock.fd, iov, 1);
	}
	iov[0].iov_len = sizeof(msg.hdr);
	for (i = 0; i < nparts; i++)
		iov[1 + i] = part[i];
	return write_iov(ctx->sock.fd, iov, 1 + nparts);
}

/* Like ubus_send_msg, for a root given in parts (at most MSG_PARTS_MAX). */
static int send_parts(struct ubus_context *ctx, uint16_t seq, int cmd, uint32_t peer,
		      const struct iovec *part, int nparts)
{
	struct ubus_msghdr hdr;

	fill_hdr(&hdr, seq, cmd, peer);
	if (tx_hold(ubus_ctx_priv(ctx), &hdr, part, nparts))
		return 0;
	return send_parts_now(ctx, seq, cmd, peer, part, nparts);
}

int ubus_send_msg(struct ubus_context *ctx, uint16_t seq, struct blob_attr *msg,
		  int cmd, uint32_t peer)
{
	struct iovec part = { .iov_base = msg, .iov_len = blob_raw_len(msg) };

	return send_parts(ctx, seq, cmd, peer, &part, 1);
}

/*
 * A call's DATA: a root holding OBJID and a DATA attribute around the
 * payload, byte for byte what a blob_buf would build, without copying the
 * payload there first.
 */
int ubus_send_data(struct ubus_context *ctx, uint16_t seq, uint32_t peer,
		   uint32_t objid, const void *data, size_t len)
{
	static const uint8_t zero[BLOB_ATTR_ALIGN];
	uint8_t head[UBUS_DATA_HEAD];
	uint32_t id = cpu_to_be32(objid);
	size_t padded = ubus_padded(len);
	size_t rootlen = sizeof(head) + padded;
	struct iovec part[3] = {
		{ .iov_base = head, .iov_len = sizeof(head) },
		{ .iov_base = (void *) data, .iov_len = len },
		{ .iov_base = (void *) zero, .iov_len = padded - len },
	};

	ubus_attr_hdr(head, 0, rootlen);
	ubus_attr_hdr(head + 4, UBUS_ATTR_OBJID, 8);
	memcpy(head + 8, &id, sizeof(id));
	ubus_attr_hdr(head + 12, UBUS_ATTR_DATA, sizeof(struct blob_attr) + len);
	return send_parts(ctx, seq, UBUS_MSG_DATA, peer, part, padded > len ? 3 : 2);
}

/* Off the list, then complete_cb: the callback may free the request. */
static void ubus_finish_request(struct ubus_request *req, int status)
{
	list_del_init(&req->list);
	req->status_code = status;
	req->status_msg = true;
	if (req->complete_cb)
		req->complete_cb(req, status);
}

static void ubus_process_reply(struct ubus_context *ctx, const struct ubus_msghdr *hdr,
			       struct blob_attr *root, struct blob_attr **tb)
{
	struct ubus_request *req;

	list_for_each_entry(req, &ctx->requests, list) {
		if (req->seq != hdr->seq || req->peer != hdr->peer || req->status_msg)
			continue;
		if (hdr->type == UBUS_MSG_STATUS) {
			ubus_finish_request(req, tb[UBUS_ATTR_STATUS] ?
					    (int) blob_get_u32(tb[UBUS_ATTR_STATUS]) :
					    UBUS_STATUS_INVALID_ARGUMENT);
			return;
		}
		if (req->raw_data_cb)
			req->raw_data_cb(req, hdr->type, root);
		if (req->data_cb && tb[UBUS_ATTR_DATA] &&
		    ubus_blobmsg_list_valid(blob_data(tb[UBUS_ATTR_DATA]),
					    blob_len(tb[UBUS_ATTR_DATA]), 0))
			req->data_cb(req, hdr->type, tb[UBUS_ATTR_DATA]);
		return;
	}
}

/* most messages are small: a block this size serves any of them */
#define MSG_BLOCK_MIN	512
#define MSG_SPARE_MAX	4096

static struct ubus_msg_copy *msg_alloc(struct ubus_ctx_priv *priv, size_t len)
{
	struct ubus_msg_copy *m = priv->spare;
	size_t cap = len < MSG_BLOCK_MIN ? MSG_BLOCK_MIN : len;

	if (m && m->cap >= len) {
		priv->spare = NULL;
		return m;
	}
	m = malloc(sizeof(*m) + cap);
	if (m)
		m->cap = cap;
	return m;
}

static void msg_release(struct ubus_ctx_priv *priv, struct ubus_msg_copy *m)
{
	if (m->cap <= MSG_SPARE_MAX && (!priv->spare || priv->spare->cap < m->cap)) {
		free(priv->spare);
		priv->spare = m;
		return;
	}
	free(m);
}

/* Takes ownership of m. */
static void ubus_dispatch(struct ubus_context *ctx, struct ubus_msg_copy *m)
{
	const struct ubus_msghdr *raw = (const struct ubus_msghdr *) m->data;
	struct blob_attr *root = (struct blob_attr *) (m->data + sizeof(*raw));
	struct blob_attr *tb[UBUS_ATTR_MAX];
	struct ubus_msghdr hdr = {
		.version = raw->version,
		.type = raw->type,
		.seq = be16_to_cpu(raw->seq),
		.peer = be32_to_cpu(raw->peer),
	};

	if (hdr.version != 0 || !ubus_msg_parse(root, tb))
		goto out;

	switch (hdr.type) {
	case UBUS_MSG_STATUS:
	case UBUS_MSG_DATA:
		ubus_process_reply(ctx, &hdr, root, tb);
		break;
	case UBUS_MSG_INVOKE:
		/* inside a synchronous call: run it once that call is over */
		if (ctx->stack_depth > 0) {
			list_add_tail(&m->list, &ctx->pending);
			return;
		}
		ubus_process_invoke(ctx, &hdr, tb);
		break;
	default:
		break;
	}
out:
	msg_release(ubus_ctx_priv(ctx), m);
}

int ubus_drain(struct ubus_context *ctx)
{
	struct ubus_rx *rx = ubus_ctx_rx(ctx);
	uint8_t *msg;
	size_t total;
	int ret;

	while ((ret = ubus_rx_peek(rx, &msg, &total)) > 0) {
		struct ubus_msg_copy *m = msg_alloc(ubus_ctx_priv(ctx), total);

		if (!m)
			return -1;
		m->len = total;
		memcpy(m->data, msg, total);
		ubus_rx_consume(rx, total);
		ubus_dispatch(ctx, m);
	}
	/* give back what one large message needed */
	ubus_rx_shrink(rx, UBUS_RX_KEEP);
	return ret;
}

void ubus_process_pending(struct ubus_context *ctx)
{
	while (ctx->stack_depth == 0 && !list_empty(&ctx->pending)) {
		struct ubus_msg_copy *m = list_first_entry(&ctx->pending, struct ubus_msg_copy, list);

		list_del(&m->list);
		ubus_dispatch(ctx, m);
	}
}

void ubus_pending_timer_cb(struct uloop_timeout *t)
{
	ubus_process_pending(container_of(t, struct ubus_context, pending_timer));
}

static void ubus_connection_broken(struct ubus_context *ctx)
{
	int fd = ctx->sock.fd;

	ctx->sock.eof = true;
	shutdown(fd, SHUT_RDWR);
	/* no answer will come to what is still pending: it fails as timed out */
	while (!list_empty(&ctx->requests))
		ubus_finish_request(list_first_entry(&ctx->requests, struct ubus_request, list),
				    UBUS_STATUS_TIMEOUT);
	if (ctx->connection_lost)
		ctx->connection_lost(ctx);
	/* a dead socket would otherwise wake the loop forever */
	if (ctx->sock.fd == fd && ctx->sock.registered)
		uloop_fd_delete(&ctx->sock);
}

void ubus_handle_data(struct uloop_fd *u, unsigned int events)
{
	struct ubus_context *ctx = container_of(u, struct ubus_context, sock);
	struct ubus_rx *rx = ubus_ctx_rx(ctx);

	for (;;) {
		size_t room;
		uint8_t *p;
		ssize_t n;

		if (ubus_drain(ctx) < 0)
			break;
		p = ubus_rx_space(rx, &room);
		if (!p)
			break;
		do {
			n = read(u->fd, p, room);
		} while (n < 0 && errno == EINTR);
		if (n > 0) {
			ubus_rx_commit(rx, n);
			/*
			 * A short read emptied the socket; a level-triggered loop
			 * reports the next bytes, so spare the read that would
			 * only say EAGAIN.
			 */
			if ((size_t) n < room && u->registered && !u->eof &&
			    !(u->flags & ULOOP_EDGE_TRIGGER)) {
				if (ubus_drain(ctx) < 0)
					break;
				return;
			}
			continue;
		}
		if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
			return;
		break;
	}
	ubus_connection_broken(ctx);
}

static int64_t now_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t) ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void ubus_after_sync(struct ubus_context *ctx)
{
	if (list_empty(&ctx->pending) || ctx->stack_depth > 0)
		return;
	if (ctx->sock.registered)
		uloop_timeout_set(&ctx->pending_timer, 1);
	else
		ubus_process_pending(ctx);
}

static int ubus_sync_wait(struct ubus_context *ctx, struct ubus_request *req, int timeout)
{
	int64_t deadline = timeout > 0 ? now_ms() + timeout : 0;
	int ret;

	ctx->stack_depth++;
	for (;;) {
		struct pollfd pfd = { .fd = ctx->sock.fd, .events = POLLIN };
		int wait = -1;
		ssize_t n;

		if (ubus_drain(ctx) < 0) {
			ctx->sock.eof = true;
			shutdown(ctx->sock.fd, SHUT_RDWR);
		}
		if (req->status_msg) {
			ret = req->status_code;
			break;
		}
		if (ctx->sock.eof) {
			ret = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
		if (deadline) {
			int64_t left = deadline - now_ms();

			if (left <= 0) {
				ret = UBUS_STATUS_TIMEOUT;
				break;
			}
			wait = left > INT32_MAX ? INT32_MAX : (int) left;
		}
		n = poll(&pfd, 1, wait);
		if (n < 0 && errno != EINTR) {
			ret = UBUS_STATUS_SYSTEM_ERROR;
			break;
		}
		if (n <= 0)
			continue;
		n = ubus_rx_read(ubus_ctx_rx(ctx), ctx->sock.fd);
		if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
			ctx->sock.eof = true;
	}
	list_del(&req->list);
	/* whatever else already arrived in the buffer is dealt with now */
	if (!ctx->sock.eof && ubus_drain(ctx) < 0) {
		ctx->sock.eof = true;
		shutdown(ctx->sock.fd, SHUT_RDWR);
	}
	ctx->stack_depth--;
	ubus_after_sync(ctx);
	return ret;
}

int ubus_start_request_parts(struct ubus_context *ctx, struct ubus_request *req,
			     const struct iovec *part, int nparts, int cmd, uint32_t peer)
{
	if (ctx->sock.eof)
		return UBUS_STATUS_CONNECTION_FAILED;
	if (ubus_padded(parts_len(part, nparts)) > UBUS_MAX_MSGLEN)
		return UBUS_STATUS_INVALID_ARGUMENT;

	req->ctx = ctx;
	req->peer = peer;
	req->seq = ++ctx->request_seq;
	req->fd = -1;
	req->status_msg = false;
	INIT_LIST_HEAD(&req->pending);
	if (send_parts_now(ctx, req->seq, cmd, peer, part, nparts) < 0) {
		if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)
			return UBUS_STATUS_CONNECTION_FAILED;
		return UBUS_STATUS_NO_DATA;
	}
	return 0;
}

int ubus_sync_request_parts(struct ubus_context *ctx, struct ubus_request *req,
			    const struct iovec *part, int nparts, int cmd, uint32_t peer,
			    int timeout)
{
	int ret = ubus_start_request_parts(ctx, req, part, nparts, cmd, peer);

	if (ret)
		return ret;
	list_add(&req->list, &ctx->requests);
	return ubus_sync_wait(ctx, req, timeout);
}

int ubus_sync_request(struct ubus_context *ctx, struct ubus_request *req,
		      struct blob_attr *msg, int cmd, uint32_t peer, int timeout)
{
	struct iovec part = { .iov_base = msg, .iov_len = blob_raw_len(msg) };

	return ubus_sync_request_parts(ctx, req, &part, 1, cmd, peer, timeout);
}
