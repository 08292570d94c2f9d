/*
 * libubus-internal.h - state and helpers private to the client library
 */
#ifndef __LIBUBUS_INTERNAL_H
#define __LIBUBUS_INTERNAL_H

#include <sys/uio.h>

#include "libubus.h"
#include "ubus_proto.h"

/* a receive buffer up to this size stays for the next message */
#define UBUS_RX_KEEP	65536

/* what ubus_connect allocates: the public context plus the receive buffer */
struct ubus_ctx_priv {
	struct ubus_context ctx;
	struct ubus_rx rx;

	/* while a call is dispatched its replies collect here, sent in one write */
	int cork;
	uint8_t *tx;
	size_t txlen;
	size_t txcap;

	/* the last dispatched message's block, kept for the next one */
	struct ubus_msg_copy *spare;
};

/* one received message, detached from the receive buffer */
struct ubus_msg_copy {
	struct list_head list;
	size_t len;
	size_t cap;
	uint8_t data[] __attribute__((aligned(8)));
};

static inline struct ubus_ctx_priv *ubus_ctx_priv(struct ubus_context *ctx)
{
	return container_of(ctx, struct ubus_ctx_priv, ctx);
}

static inline struct ubus_rx *ubus_ctx_rx(struct ubus_context *ctx)
{
	return &ubus_ctx_priv(ctx)->rx;
}

/* outgoing messages are built here (one at a time, like the platform's) */
extern struct blob_buf ubus_b __hidden;

/* may hold the message back while corked; 0 or -1 (errno) */
int ubus_send_msg(struct ubus_context *ctx, uint16_t seq, struct blob_attr *msg,
		  int cmd, uint32_t peer) __hidden;
/* root, OBJID and the DATA header in front of a reply's payload */
#define UBUS_DATA_HEAD	16

/* a call's DATA reply around len bytes of payload; 0 or -1 (errno) */
int ubus_send_data(struct ubus_context *ctx, uint16_t seq, uint32_t peer,
		   uint32_t objid, const void *data, size_t len) __hidden;
/* writes what is held back; 0 or -1 (errno) */
int ubus_tx_flush(struct ubus_context *ctx) __hidden;
/* sends a request's message and numbers it; 0 or a ubus status */
int ubus_start_request_parts(struct ubus_context *ctx, struct ubus_request *req,
			     const struct iovec *part, int nparts, int cmd, uint32_t peer) __hidden;
int ubus_sync_request(struct ubus_context *ctx, struct ubus_request *req,
		      struct blob_attr *msg, int cmd, uint32_t peer, int timeout) __hidden;
/* the same for a root given as parts to send one after the other (at most 5) */
int ubus_sync_request_parts(struct ubus_context *ctx, struct ubus_request *req,
			    const struct iovec *part, int nparts, int cmd, uint32_t peer,
			    int timeout) __hidden;

/* dispatches every complete buffered message; -1 if the stream is broken */
int ubus_drain(struct ubus_context *ctx) __hidden;
void ubus_handle_data(struct uloop_fd *u, unsigned int events) __hidden;
void ubus_process_pending(struct ubus_context *ctx) __hidden;
void ubus_pending_timer_cb(struct uloop_timeout *t) __hidden;

void ubus_process_invoke(struct ubus_context *ctx, const struct ubus_msghdr *hdr,
			 struct blob_attr **tb) __hidden;

#endif
