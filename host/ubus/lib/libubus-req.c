/*
 * libubus-req.c - requests: lookups, calls (waited for or not) and replies
 */
#include "libubus-internal.h"

struct lookup_request {
	struct ubus_request req;
	ubus_lookup_handler_t cb;
	void *priv;
	uint32_t *id;
};

static void lookup_data_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct lookup_request *lr = container_of(req, struct lookup_request, req);
	struct blob_attr *tb[UBUS_ATTR_MAX];
	struct blob_attr *sig;
	struct ubus_object_data obj;

	if (!ubus_msg_parse(msg, tb))
		return;
	if (lr->id) {
		if (tb[UBUS_ATTR_OBJID])
			*lr->id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
		return;
	}
	if (!tb[UBUS_ATTR_OBJID] || !tb[UBUS_ATTR_OBJPATH] || !tb[UBUS_ATTR_OBJTYPE])
		return;
	sig = tb[UBUS_ATTR_SIGNATURE];
	if (sig && !ubus_blobmsg_list_valid(blob_data(sig), blob_len(sig), 0))
		return;
	obj.id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	obj.type_id = blob_get_u32(tb[UBUS_ATTR_OBJTYPE]);
	obj.path = blob_data(tb[UBUS_ATTR_OBJPATH]);
	obj.signature = sig;
	lr->cb(req->ctx, &obj, lr->priv);
}

static int ubus_lookup_request(struct ubus_context *ctx, const char *path,
			       struct lookup_request *lr)
{
	blob_buf_init(&ubus_b, 0);
	if (path && !blob_put_string(&ubus_b, UBUS_ATTR_OBJPATH, path))
		return UBUS_STATUS_NO_MEMORY;
	lr->req.raw_data_cb = lookup_data_cb;
	return ubus_sync_request(ctx, &lr->req, ubus_b.head, UBUS_MSG_LOOKUP, 0, 0);
}

int ubus_lookup(struct ubus_context *ctx, const char *path,
		ubus_lookup_handler_t cb, void *priv)
{
	struct lookup_request lr = { .cb = cb, .priv = priv };

	if (!cb)
		return UBUS_STATUS_INVALID_ARGUMENT;
	return ubus_lookup_request(ctx, path, &lr);
}

int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id)
{
	struct lookup_request lr = { .id = id };

	if (!path || !id)
		return UBUS_STATUS_INVALID_ARGUMENT;
	return ubus_lookup_request(ctx, path, &lr);
}

/* An INVOKE's root as parts: what a blob_buf would hold, without copying the payload into one. */
struct invoke_parts {
	uint8_t head[16];	/* root, OBJID, METHOD's header */
	uint8_t mid[8];		/* the method's padding (up to 3 bytes), DATA's header */
	uint32_t id;
	struct iovec part[5];
};

static int invoke_parts(struct invoke_parts *ip, uint32_t obj, const char *method,
			struct blob_attr *msg, int fd)
{
	static const uint8_t zero[BLOB_ATTR_ALIGN];
	size_t mlen, mpad, dlen, rootlen;

	if (!method)
		return UBUS_STATUS_INVALID_ARGUMENT;
	/* passing descriptors along with calls is not supported here */
	if (fd >= 0)
		return UBUS_STATUS_NOT_SUPPORTED;
	mlen = strlen(method) + 1;
	mpad = ubus_padded(mlen) - mlen;
	dlen = msg ? blob_len(msg) : 0;
	rootlen = sizeof(ip->head) + mlen + mpad + 4 + ubus_padded(dlen);
	if (rootlen > BLOB_ATTR_LEN_MASK)
		return UBUS_STATUS_NO_MEMORY;
	ip->id = cpu_to_be32(obj);
	memset(ip->mid, 0, sizeof(ip->mid));
	ubus_attr_hdr(ip->head, 0, rootlen);
	ubus_attr_hdr(ip->head + 4, UBUS_ATTR_OBJID, 8);
	memcpy(ip->head + 8, &ip->id, sizeof(ip->id));
	ubus_attr_hdr(ip->head + 12, UBUS_ATTR_METHOD, 4 + mlen);
	ubus_attr_hdr(ip->mid + 4, UBUS_ATTR_DATA, 4 + dlen);
	ip->part[0] = (struct iovec) { .iov_base = ip->head, .iov_len = sizeof(ip->head) };
	ip->part[1] = (struct iovec) { .iov_base = (void *) method, .iov_len = mlen };
	ip->part[2] = (struct iovec) { .iov_base = ip->mid + 4 - mpad, .iov_len = mpad + 4 };
	ip->part[3] = (struct iovec) { .iov_base = msg ? blob_data(msg) : NULL, .iov_len = dlen };
	ip->part[4] = (struct iovec) { .iov_base = (void *) zero, .iov_len = ubus_padded(dlen) - dlen };
	return 0;
}

int ubus_invoke_fd(struct ubus_context *ctx, uint32_t obj, const char *method,
		   struct blob_attr *msg, ubus_data_handler_t cb, void *priv,
		   int timeout, int fd)
{
	struct ubus_request req = { .data_cb = cb, .priv = priv };
	struct invoke_parts ip;
	int ret = invoke_parts(&ip, obj, method, msg, fd);

	if (ret)
		return ret;
	return ubus_sync_request_parts(ctx, &req, ip.part, 5, UBUS_MSG_INVOKE, obj,
				       timeout < 0 ? 0 : timeout);
}

int ubus_invoke_async_fd(struct ubus_context *ctx, uint32_t obj, const char *method,
			 struct blob_attr *msg, struct ubus_request *req, int fd)
{
	struct invoke_parts ip;
	int ret;

	memset(req, 0, sizeof(*req));
	INIT_LIST_HEAD(&req->list);
	ret = invoke_parts(&ip, obj, method, msg, fd);
	if (ret)
		return ret;
	return ubus_start_request_parts(ctx, req, ip.part, 5, UBUS_MSG_INVOKE, obj);
}

void ubus_complete_request_async(struct ubus_context *ctx, struct ubus_request *req)
{
	if (!list_empty(&req->list) || req->status_msg)
		return;
	list_add(&req->list, &ctx->requests);
}

void ubus_abort_request(struct ubus_context *ctx, struct ubus_request *req)
{
	if (list_empty(&req->list))
		return;
	req->cancelled = true;
	list_del_init(&req->list);
}

int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req,
		    struct blob_attr *msg)
{
	size_t len = msg ? blob_len(msg) : 0;

	if (UBUS_DATA_HEAD + len > BLOB_ATTR_LEN_MASK)
		return UBUS_STATUS_NO_MEMORY;
	if (UBUS_DATA_HEAD + ubus_padded(len) > UBUS_MAX_MSGLEN)
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (ubus_send_data(ctx, req->seq, req->peer, req->object,
			   msg ? blob_data(msg) : NULL, len) < 0)
		return UBUS_STATUS_NO_DATA;
	return 0;
}

void ubus_complete_deferred_request(struct ubus_context *ctx,
				    struct ubus_request_data *req, int ret)
{
	/* root with STATUS and OBJID, as a blob_buf would build it */
	uint32_t root[5] = {
		cpu_to_be32(sizeof(root)),
		cpu_to_be32((UBUS_ATTR_STATUS << BLOB_ATTR_ID_SHIFT) | 8),
		cpu_to_be32((uint32_t) ret),
		cpu_to_be32((UBUS_ATTR_OBJID << BLOB_ATTR_ID_SHIFT) | 8),
		cpu_to_be32(req->object),
	};

	ubus_send_msg(ctx, req->seq, (struct blob_attr *) root, UBUS_MSG_STATUS, req->peer);
}
