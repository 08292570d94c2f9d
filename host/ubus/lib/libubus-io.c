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

int ubus_send_msg(struct ubus_context *ctx, uint16_t seq, struct blob_attr *msg,
		  int cmd, uint32_t peer)
{
	struct ubus_msghdr hdr = {
		.version = 0,
		.type = cmd,
		.seq = cpu_to_be16(seq),
		.peer = cpu_to_be32(peer),
	};
	struct iovec iov[2] = {
		{ .iov_base = &hdr, .iov_len = sizeof(hdr) },
		{ .iov_base = msg, .iov_len = blob_raw_len(msg) },
	};
	struct msghdr mh = { .msg_iov = iov, .msg_iovlen = 2 };

	while (mh.msg_iovlen) {
		ssize_t n = sendmsg(ctx->sock.fd, &mh, MSG_NOSIGNAL);

		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno == EAGAIN || errno == EWOULDBLOCK) {
				wait_writable(ctx->sock.fd);
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

	for (;;) {
		ssize_t n;

		if (ubus_drain(ctx) < 0)
			break;
		n = ubus_rx_read(ubus_ctx_rx(ctx), u->fd);
		if (n > 0)
			continue;
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
	if (ubus_send_msg(ctx, req->seq, msg, cmd, peer) < 0) {
		if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)
			return UBUS_STATUS_CONNECTION_FAILED;
		return UBUS_STATUS_NO_DATA;
	}
	list_add(&req->list, &ctx->requests);
	return ubus_sync_wait(ctx, req, timeout);
}
