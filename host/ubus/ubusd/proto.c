/*
 * proto.c - the broker's answer to each message type
 */
#include <string.h>
#include <libubox/blobmsg.h>

#include "ubusd.h"

static struct blob_buf b;

static void send_data(struct ubusd_client *cl, const struct ubus_msghdr *req)
{
	ubusd_send_msg(cl, 0, UBUS_MSG_DATA, req->seq, req->peer, b.head, blob_raw_len(b.head));
}

static void handle_ping(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			struct blob_attr *root, struct blob_attr **tb)
{
	ubusd_send_msg(cl, hdr->version, UBUS_MSG_DATA, hdr->seq, hdr->peer,
		       root, blob_raw_len(root));
	ubusd_send_status(cl, hdr, UBUS_STATUS_OK);
}

static void send_object(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			struct ubusd_object *obj)
{
	blob_buf_init(&b, 0);
	blob_put_string(&b, UBUS_ATTR_OBJPATH, obj->path);
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj->id);
	blob_put_int32(&b, UBUS_ATTR_OBJTYPE, obj->type->id);
	blob_put(&b, UBUS_ATTR_SIGNATURE, obj->type->sig, obj->type->siglen);
	send_data(cl, hdr);
}

static void handle_lookup(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			  struct blob_attr *root, struct blob_attr **tb)
{
	struct ubusd_object *obj;
	const char *path;
	size_t len;
	bool found = false;

	if (!tb[UBUS_ATTR_OBJPATH]) {
		avl_for_each_element(&ubusd_paths, obj, path_avl)
			if (obj->type)
				send_object(cl, hdr, obj);
		ubusd_send_status(cl, hdr, UBUS_STATUS_OK);
		return;
	}
	path = blob_data(tb[UBUS_ATTR_OBJPATH]);
	len = strlen(path);
	if (!len) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	if (path[len - 1] != '*') {
		obj = avl_find_element(&ubusd_paths, path, obj, path_avl);
		if (obj && obj->type)
			send_object(cl, hdr, obj);
		ubusd_send_status(cl, hdr, obj ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND);
		return;
	}
	avl_for_each_element(&ubusd_paths, obj, path_avl) {
		if (strncmp(obj->path, path, len - 1))
			continue;
		found = true;
		if (obj->type)
			send_object(cl, hdr, obj);
	}
	ubusd_send_status(cl, hdr, found ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND);
}

static void handle_add_object(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			      struct blob_attr *root, struct blob_attr **tb)
{
	struct ubusd_type *type = NULL;
	struct ubusd_object *obj;
	const char *path = NULL;
	bool new_type = false;

	if (tb[UBUS_ATTR_OBJPATH]) {
		path = blob_data(tb[UBUS_ATTR_OBJPATH]);
		if (!*path || avl_find(&ubusd_paths, path)) {
			ubusd_send_status(cl, hdr, UBUS_STATUS_INVALID_ARGUMENT);
			return;
		}
	}
	if (tb[UBUS_ATTR_OBJTYPE]) {
		type = ubusd_type_find(blob_get_u32(tb[UBUS_ATTR_OBJTYPE]));
	} else if (tb[UBUS_ATTR_SIGNATURE]) {
		type = ubusd_type_new(tb[UBUS_ATTR_SIGNATURE]);
		new_type = type != NULL;
	}
	obj = ubusd_object_new(cl, path, type);
	if (!obj) {
		if (new_type)
			ubusd_type_unref(type);
		ubusd_send_status(cl, hdr, UBUS_STATUS_NO_MEMORY);
		return;
	}
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj->id);
	if (new_type)
		blob_put_int32(&b, UBUS_ATTR_OBJTYPE, type->id);
	send_data(cl, hdr);
	ubusd_send_status(cl, hdr, UBUS_STATUS_OK);
}

static bool is_system_object(uint32_t id)
{
	return id >= UBUS_SYSTEM_OBJECT_EVENT && id <= UBUS_SYSTEM_OBJECT_MONITOR;
}

static void handle_remove_object(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
				 struct blob_attr *root, struct blob_attr **tb)
{
	struct ubusd_object *obj;
	uint32_t id;

	if (!tb[UBUS_ATTR_OBJID]) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	if (is_system_object(id)) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_PERMISSION_DENIED);
		return;
	}
	obj = ubusd_object_find(id);
	if (!obj) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_NOT_FOUND);
		return;
	}
	if (obj->client != cl) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_PERMISSION_DENIED);
		return;
	}
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj->id);
	if (obj->type && obj->type->refcount == 1)
		blob_put_int32(&b, UBUS_ATTR_OBJTYPE, obj->type->id);
	ubusd_object_free(obj);
	send_data(cl, hdr);
	ubusd_send_status(cl, hdr, UBUS_STATUS_OK);
}

/* header, payload and padding of an attribute */
static size_t attr_size(size_t len)
{
	return sizeof(struct blob_attr) + ubus_padded(len);
}

/* one attribute with its payload copied and padded with zeros; its end */
static uint8_t *put_attr(uint8_t *p, int id, const void *data, size_t len)
{
	static const uint32_t zero;
	uint8_t *end = p + attr_size(len);

	/* the padding lies in the last word, past the header: clear it first */
	if (end - p > (ptrdiff_t) (sizeof(struct blob_attr) + len))
		memcpy(end - sizeof(zero), &zero, sizeof(zero));
	ubus_attr_hdr(p, id, sizeof(struct blob_attr) + len);
	if (len)
		memcpy(p + sizeof(struct blob_attr), data, len);
	return end;
}

/*
 * The call as the owner gets it: object, method, the caller's user and
 * group, the data. Written straight into the owner's queue, with fresh
 * headers and zero padding whatever the caller sent.
 */
static void forward_invoke(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			   struct ubusd_object *obj, struct blob_attr **tb)
{
	struct blob_attr *method = tb[UBUS_ATTR_METHOD], *data = tb[UBUS_ATTR_DATA];
	size_t ulen = strlen(cl->user) + 1, glen = strlen(cl->group) + 1;
	size_t rootlen = sizeof(struct blob_attr) + attr_size(sizeof(uint32_t)) +
			 attr_size(blob_len(method)) + attr_size(ulen) + attr_size(glen) +
			 (data ? attr_size(blob_len(data)) : 0);
	uint32_t objid = cpu_to_be32(obj->id);
	uint8_t *p;

	if (rootlen > UBUS_MAX_MSGLEN) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	p = ubusd_send_reserve(obj->client, 0, UBUS_MSG_INVOKE, hdr->seq, cl->id, rootlen);
	if (p) {
		ubus_attr_hdr(p, 0, rootlen);
		p += sizeof(struct blob_attr);
		p = put_attr(p, UBUS_ATTR_OBJID, &objid, sizeof(objid));
		p = put_attr(p, UBUS_ATTR_METHOD, blob_data(method), blob_len(method));
		p = put_attr(p, UBUS_ATTR_USER, cl->user, ulen);
		p = put_attr(p, UBUS_ATTR_GROUP, cl->group, glen);
		if (data)
			put_attr(p, UBUS_ATTR_DATA, blob_data(data), blob_len(data));
		ubusd_send_commit(obj->client, rootlen);
	}
	ubusd_flow_called(cl, obj->client);
}

static void handle_invoke(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			  struct blob_attr *root, struct blob_attr **tb)
{
	struct ubusd_object *obj;
	uint32_t id;

	if (!tb[UBUS_ATTR_OBJID] || !tb[UBUS_ATTR_METHOD]) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	/* event, ACL and monitor services are not offered by this broker */
	if (is_system_object(id)) {
		ubusd_send_status(cl, hdr, id == UBUS_SYSTEM_OBJECT_MONITOR ?
				  UBUS_STATUS_METHOD_NOT_FOUND : UBUS_STATUS_INVALID_COMMAND);
		return;
	}
	obj = ubusd_object_find(id);
	if (!obj) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_NOT_FOUND);
		return;
	}
	forward_invoke(cl, hdr, obj, tb);
}

/* An owner's DATA or STATUS for a call, passed on to the caller. */
static void handle_reply(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			 struct blob_attr *root, struct blob_attr **tb)
{
	int needed = hdr->type == UBUS_MSG_DATA ? UBUS_ATTR_DATA : UBUS_ATTR_STATUS;
	struct ubusd_object *obj;
	struct ubusd_client *caller;
	uint32_t peer = hdr->peer;

	if (!tb[UBUS_ATTR_OBJID] || !tb[needed])
		return;
	obj = ubusd_object_find(blob_get_u32(tb[UBUS_ATTR_OBJID]));
	if (!obj || obj->client != cl)
		return;
	caller = avl_find_element(&ubusd_clients, &peer, caller, avl);
	if (!caller)
		return;
	ubusd_send_msg(caller, 0, hdr->type, hdr->seq, obj->id, root, blob_raw_len(root));
}

typedef void (*handler_fn)(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
			   struct blob_attr *root, struct blob_attr **tb);

static const handler_fn handlers[__UBUS_MSG_LAST] = {
	[UBUS_MSG_PING] = handle_ping,
	[UBUS_MSG_LOOKUP] = handle_lookup,
	[UBUS_MSG_INVOKE] = handle_invoke,
	[UBUS_MSG_ADD_OBJECT] = handle_add_object,
	[UBUS_MSG_REMOVE_OBJECT] = handle_remove_object,
	[UBUS_MSG_DATA] = handle_reply,
	[UBUS_MSG_STATUS] = handle_reply,
};

void ubusd_dispatch(struct ubusd_client *cl, const struct ubus_msghdr *hdr,
		    struct blob_attr *root)
{
	struct blob_attr *tb[UBUS_ATTR_MAX];
	handler_fn fn = hdr->type < __UBUS_MSG_LAST ? handlers[hdr->type] : NULL;

	/*
	 * Attributes overrunning their message, or call data that is not a
	 * clean run of blobmsg entries (we would hand it on to another
	 * process): the sender is broken or hostile.
	 */
	if (!ubus_msg_parse(root, tb) ||
	    (tb[UBUS_ATTR_DATA] && !ubus_blobmsg_list_valid(blob_data(tb[UBUS_ATTR_DATA]),
							   blob_len(tb[UBUS_ATTR_DATA]), 0))) {
		ubusd_client_kill(cl);
		return;
	}
	if (!fn) {
		ubusd_send_status(cl, hdr, UBUS_STATUS_INVALID_COMMAND);
		return;
	}
	fn(cl, hdr, root, tb);
}
