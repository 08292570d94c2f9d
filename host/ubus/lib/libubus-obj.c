/*
 * libubus-obj.c - publishing objects and dispatching calls to their methods
 */
#include "libubus-internal.h"

struct object_request {
	struct ubus_request req;
	struct ubus_object *obj;
	bool got_id;
};

/* One table per method: argument name -> blobmsg type number. */
static bool ubus_push_signature(const struct ubus_object_type *type)
{
	void *sig = blob_nest_start(&ubus_b, UBUS_ATTR_SIGNATURE);
	int i, j;

	if (!sig)
		return false;
	for (i = 0; i < type->n_methods; i++) {
		const struct ubus_method *m = &type->methods[i];
		void *tbl;

		if (!m->name)
			continue;
		tbl = blobmsg_open_table(&ubus_b, m->name);
		if (!tbl)
			return false;
		for (j = 0; j < m->n_policy; j++) {
			if (m->mask && (j >= (int) (8 * sizeof(m->mask)) || !(m->mask & (1ul << j))))
				continue;
			if (!m->policy[j].name)
				continue;
			if (blobmsg_add_u32(&ubus_b, m->policy[j].name, m->policy[j].type) < 0)
				return false;
		}
		blobmsg_close_table(&ubus_b, tbl);
	}
	blob_nest_end(&ubus_b, sig);
	return true;
}

static void add_object_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct object_request *or = container_of(req, struct object_request, req);
	struct blob_attr *tb[UBUS_ATTR_MAX];

	if (!ubus_msg_parse(msg, tb) || !tb[UBUS_ATTR_OBJID])
		return;
	or->obj->id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	or->got_id = true;
	if (tb[UBUS_ATTR_OBJTYPE] && or->obj->type)
		or->obj->type->id = blob_get_u32(tb[UBUS_ATTR_OBJTYPE]);
}

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj)
{
	struct object_request or = { .obj = obj };
	int ret;

	/* already published: linking it a second time would corrupt the tree */
	if (obj->id)
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf_init(&ubus_b, 0);
	if (obj->name && obj->type) {
		if (!blob_put_string(&ubus_b, UBUS_ATTR_OBJPATH, obj->name))
			return UBUS_STATUS_NO_MEMORY;
		if (obj->type->id) {
			if (!blob_put_int32(&ubus_b, UBUS_ATTR_OBJTYPE, obj->type->id))
				return UBUS_STATUS_NO_MEMORY;
		} else if (!ubus_push_signature(obj->type)) {
			return UBUS_STATUS_NO_MEMORY;
		}
	}
	or.req.raw_data_cb = add_object_cb;
	ret = ubus_sync_request(ctx, &or.req, ubus_b.head, UBUS_MSG_ADD_OBJECT, 0, 0);
	if (ret)
		return ret;
	if (!or.got_id)
		return UBUS_STATUS_NO_DATA;
	obj->avl.key = &obj->id;
	if (avl_insert(&ctx->objects, &obj->avl) < 0)
		return UBUS_STATUS_UNKNOWN_ERROR;
	return 0;
}

static void remove_object_cb(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct object_request *or = container_of(req, struct object_request, req);
	struct blob_attr *tb[UBUS_ATTR_MAX];

	if (!ubus_msg_parse(msg, tb) || !tb[UBUS_ATTR_OBJID])
		return;
	or->got_id = true;
	if (tb[UBUS_ATTR_OBJTYPE] && or->obj->type)
		or->obj->type->id = 0;
}

int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj)
{
	struct object_request or = { .obj = obj };
	int ret;

	blob_buf_init(&ubus_b, 0);
	if (!blob_put_int32(&ubus_b, UBUS_ATTR_OBJID, obj->id))
		return UBUS_STATUS_NO_MEMORY;
	or.req.raw_data_cb = remove_object_cb;
	ret = ubus_sync_request(ctx, &or.req, ubus_b.head, UBUS_MSG_REMOVE_OBJECT, 0, 0);
	if (ret)
		return ret;
	if (!or.got_id)
		return UBUS_STATUS_NO_DATA;
	if (avl_find(&ctx->objects, &obj->id) == &obj->avl)
		avl_delete(&ctx->objects, &obj->avl);
	obj->id = 0;
	return 0;
}

static const struct ubus_method *find_method(const struct ubus_object *obj, const char *name)
{
	int i;

	for (i = 0; i < obj->n_methods; i++) {
		const struct ubus_method *m = &obj->methods[i];

		/* an entry without a name takes every call */
		if (!m->name || !strcmp(m->name, name))
			return m;
	}
	return NULL;
}

static int invoke_method(struct ubus_context *ctx, struct ubus_object *obj,
			 struct ubus_request_data *req, struct blob_attr **tb)
{
	struct blob_attr *data = tb[UBUS_ATTR_DATA];
	const struct ubus_method *m;
	const char *method;

	if (!tb[UBUS_ATTR_METHOD])
		return UBUS_STATUS_INVALID_ARGUMENT;
	method = blob_data(tb[UBUS_ATTR_METHOD]);
	m = find_method(obj, method);
	if (!m || !m->handler)
		return UBUS_STATUS_METHOD_NOT_FOUND;
	if (!data || !ubus_blobmsg_list_valid(blob_data(data), blob_len(data), 0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	return m->handler(ctx, obj, req, method, data);
}

void ubus_process_invoke(struct ubus_context *ctx, const struct ubus_msghdr *hdr,
			 struct blob_attr **tb)
{
	struct ubus_ctx_priv *priv = ubus_ctx_priv(ctx);
	struct ubus_request_data req = {
		.peer = hdr->peer,
		.seq = hdr->seq,
		.fd = -1,
		.req_fd = -1,
	};
	struct ubus_object *obj;
	bool no_reply;
	int ret;

	if (!tb[UBUS_ATTR_OBJID])
		return;
	req.object = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	no_reply = tb[UBUS_ATTR_NO_REPLY] && blob_get_u8(tb[UBUS_ATTR_NO_REPLY]);

	/* the handler's DATA and the STATUS leave together */
	priv->cork++;
	obj = avl_find_element(&ctx->objects, &req.object, obj, avl);
	if (!obj) {
		ret = UBUS_STATUS_NOT_FOUND;
	} else {
		if (tb[UBUS_ATTR_USER] && tb[UBUS_ATTR_GROUP]) {
			req.acl.user = blob_data(tb[UBUS_ATTR_USER]);
			req.acl.group = blob_data(tb[UBUS_ATTR_GROUP]);
			req.acl.object = obj->name;
		}
		ret = invoke_method(ctx, obj, &req, tb);
	}
	if (!req.deferred && !no_reply)
		ubus_complete_deferred_request(ctx, &req, ret);
	if (!--priv->cork)
		ubus_tx_flush(ctx);
}
