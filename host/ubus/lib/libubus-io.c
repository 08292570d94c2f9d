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
		ssize_t n = sendmsg(fd, &mh, MSG_NOSIGNAL);

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

/* Holds the message back if corked and it fits; false if it must go now. */
static bool tx_hold(struct ubus_ctx_priv *priv, const struct ubus_msghdr *hdr,
		    const struct blob_attr *msg)
{
	size_t len = blob_raw_len(msg);
	size_t need = priv->txlen + sizeof(*hdr) + len;

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
	memcpy(priv->tx + priv->txlen + sizeof(*hdr), msg, len);
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

int ubus_send_msg_now(struct ubus_context *ctx, uint16_t seq, struct blob_attr *msg,
		      int cmd, uint32_t peer)
{
	struct ubus_msghdr hdr;
	struct iovec iov[2] = {
		{ .iov_base = &hdr, .iov_len = sizeof(hdr) },
		{ .iov_base = msg, .iov_len = blob_raw_len(msg) },
	};

	fill_hdr(&hdr, seq, cmd, peer);
	/* what is held back was produced first and goes first */
	if (ubus_tx_flush(ctx) < 0)
		return -1;
	return write_iov(ctx->sock.fd, iov, 2);
}

int ubus_send_msg(struct ubus_context *ctx, uint16_t seq, struct blob_attr *msg,
		  int cmd, uint32_t peer)
{
	struct ubus_msghdr hdr;

	fill_hdr(&hdr, seq, cmd, peer);
	if (tx_hold(ubus_ctx_priv(ctx), &hdr, msg))
		return 0;
	return ubus_send_msg_now(ctx, seq, msg, cmd, peer);
}

static void ubus_process_reply(struct ubus_context *ctx, const struct ubus_msghdr *hdr,
			       struct blob_attr *root, struct blob_attr **tb)
{
	struct ubus_request *req;

	list_for_each_entry(req, &ctx->requests, list) {
		if (req->seq != hdr->seq || req->peer != hdr->peer || req->status_msg)
			continue;
		if (hdr->type == UBUS_MSG_STATUS) {
			req->status_code = tb[UBUS_ATTR_STATUS] ?
				(int) blob_get_u32(tb[UBUS_ATTR_STATUS]) :
				UBUS_STATUS_INVALID_ARGUMENT;
			req->status_msg = true;
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
	free(m);
}

int ubus_drain(struct ubus_context *ctx)
{
	struct ubus_rx *rx = ubus_ctx_rx(ctx);
	uint8_t *msg;
	size_t total;
	int ret;

	while ((ret = ubus_rx_peek(rx, &msg, &total)) > 0) {
		struct ubus_msg_copy *m = malloc(sizeof(*m) + total);

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

int ubus_sync_request(struct ubus_context *ctx, struct ubus_request *req,
		      struct blob_attr *msg, int cmd, uint32_t peer, int timeout)
{
	if (ctx->sock.eof)
		return UBUS_STATUS_CONNECTION_FAILED;
	if (blob_pad_len(msg) > UBUS_MAX_MSGLEN)
		return UBUS_STATUS_INVALID_ARGUMENT;

	req->ctx = ctx;
	req->peer = peer;
	req->seq = ++ctx->request_seq;
	req->fd = -1;
	req->status_msg = false;
	INIT_LIST_HEAD(&req->pending);
	if (ubus_send_msg_now(ctx, req->seq, msg, cmd, peer) < 0) {
		if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)
			return UBUS_STATUS_CONNECTION_FAILED;
		return UBUS_STATUS_NO_DATA;
	}
	list_add(&req->list, &ctx->requests);
	return ubus_sync_wait(ctx, req, timeout);
}
