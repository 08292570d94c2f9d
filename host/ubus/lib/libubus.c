/*
 * libubus.c - connecting to the bus, freeing the context, status texts
 */
#include <fcntl.h>
#include <unistd.h>
#include <libubox/usock.h>

#include "libubus-internal.h"

struct blob_buf ubus_b;

static const char *const ubus_status_text[__UBUS_STATUS_LAST] = {
	[UBUS_STATUS_OK] = "Success",
	[UBUS_STATUS_INVALID_COMMAND] = "Invalid command",
	[UBUS_STATUS_INVALID_ARGUMENT] = "Invalid argument",
	[UBUS_STATUS_METHOD_NOT_FOUND] = "Method not found",
	[UBUS_STATUS_NOT_FOUND] = "Not found",
	[UBUS_STATUS_NO_DATA] = "No response",
	[UBUS_STATUS_PERMISSION_DENIED] = "Permission denied",
	[UBUS_STATUS_TIMEOUT] = "Request timed out",
	[UBUS_STATUS_NOT_SUPPORTED] = "Operation not supported",
	[UBUS_STATUS_UNKNOWN_ERROR] = "Unknown error",
	[UBUS_STATUS_CONNECTION_FAILED] = "Connection failed",
	[UBUS_STATUS_NO_MEMORY] = "Out of memory",
	[UBUS_STATUS_PARSE_ERROR] = "Parsing message data failed",
	[UBUS_STATUS_SYSTEM_ERROR] = "System error",
};

const char *ubus_strerror(int error)
{
	static char buf[32];

	if (error < 0 || error >= __UBUS_STATUS_LAST) {
		snprintf(buf, sizeof(buf), "Unknown error: %d", error);
		return buf;
	}
	return ubus_status_text[error];
}

/*
 * Ends the loop only while the socket is still watched. On Linux the loop has
 * already dropped a hung-up socket by the time this runs, so a daemon relying
 * on it keeps running; programs that care install their own handler.
 */
static void ubus_default_connection_lost(struct ubus_context *ctx)
{
	if (ctx->sock.registered)
		uloop_end();
}

static int ubus_cmp_id(const void *k1, const void *k2, void *ptr)
{
	const uint32_t *id1 = k1, *id2 = k2;

	if (*id1 < *id2)
		return -1;
	return *id1 > *id2;
}

static bool read_all(int fd, void *buf, size_t len)
{
	uint8_t *p = buf;

	while (len) {
		ssize_t n = read(fd, p, len);

		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		p += n;
		len -= n;
	}
	return true;
}

/* The broker speaks first: one HELLO carrying our client id. */
static bool ubus_read_hello(struct ubus_context *ctx)
{
	uint8_t head[UBUS_FRAME_HEAD];
	const struct ubus_msghdr *hdr = (const struct ubus_msghdr *) head;
	size_t total, rest;
	ssize_t n;

	do {
		n = read(ctx->sock.fd, head, sizeof(head));
	} while (n < 0 && errno == EINTR);
	if (n != (ssize_t) sizeof(head))
		return false;
	if (hdr->version != 0 || hdr->type != UBUS_MSG_HELLO)
		return false;
	total = ubus_frame_len(head);
	if (!total)
		return false;
	for (rest = total - sizeof(head); rest > 0;) {
		uint8_t scratch[256];
		size_t chunk = rest < sizeof(scratch) ? rest : sizeof(scratch);

		if (!read_all(ctx->sock.fd, scratch, chunk))
			return false;
		rest -= chunk;
	}
	/* kept as the raw wire bytes, as the platform library does */
	memcpy(&ctx->local_id, head + 4, sizeof(ctx->local_id));
	return ctx->local_id > 1;
}

struct ubus_context *ubus_connect(const char *path)
{
	struct ubus_ctx_priv *priv;
	struct ubus_context *ctx;
	int flags;

	uloop_init();
	priv = calloc(1, sizeof(*priv));
	if (!priv)
		return NULL;
	ctx = &priv->ctx;
	INIT_LIST_HEAD(&ctx->requests);
	INIT_LIST_HEAD(&ctx->pending);
	avl_init(&ctx->objects, ubus_cmp_id, false, NULL);
	ctx->pending_timer.cb = ubus_pending_timer_cb;
	ctx->connection_lost = ubus_default_connection_lost;
	ctx->sock.cb = ubus_handle_data;

	ctx->sock.fd = usock(USOCK_UNIX, path ? path : UBUS_UNIX_SOCKET, NULL);
	if (ctx->sock.fd < 0)
		goto fail_free;
	if (!ubus_read_hello(ctx))
		goto fail_close;
	flags = fcntl(ctx->sock.fd, F_GETFL);
	if (flags < 0 || fcntl(ctx->sock.fd, F_SETFL, flags | O_NONBLOCK) < 0)
		goto fail_close;
	return ctx;

fail_close:
	close(ctx->sock.fd);
fail_free:
	free(priv);
	return NULL;
}

void ubus_free(struct ubus_context *ctx)
{
	struct ubus_ctx_priv *priv;
	struct ubus_msg_copy *m, *tmp;

	if (!ctx)
		return;
	priv = container_of(ctx, struct ubus_ctx_priv, ctx);
	/* replies a handler made before freeing the context still go out */
	if (!ctx->sock.eof)
		ubus_tx_flush(ctx);
	uloop_fd_delete(&ctx->sock);
	uloop_timeout_cancel(&ctx->pending_timer);
	close(ctx->sock.fd);
	list_for_each_entry_safe(m, tmp, &ctx->pending, list) {
		list_del(&m->list);
		free(m);
	}
	ubus_rx_free(&priv->rx);
	free(priv->spare);
	free(priv->tx);
	free(priv);
}
