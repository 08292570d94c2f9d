/*
 * ubus_proto.c - message framing and attribute validation
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <libubox/blobmsg.h>
#include "ubus_proto.h"

#define RX_MIN_CAP	4096

size_t ubus_frame_len(const uint8_t *head)
{
	const struct blob_attr *root = (const struct blob_attr *) (head + sizeof(struct ubus_msghdr));
	size_t len = blob_raw_len(root);

	if (len < sizeof(struct blob_attr))
		return 0;
	if (((len + 3) & ~(size_t) 3) > UBUS_MAX_MSGLEN)
		return 0;
	return sizeof(struct ubus_msghdr) + len;
}

static bool attr_shape_ok(unsigned int id, const struct blob_attr *a)
{
	size_t len = blob_len(a);
	const char *data = blob_data(a);

	switch (id) {
	case UBUS_ATTR_STATUS:
	case UBUS_ATTR_OBJID:
	case UBUS_ATTR_OBJTYPE:
	case UBUS_ATTR_TARGET:
		return len == 4;
	case UBUS_ATTR_OBJPATH:
	case UBUS_ATTR_METHOD:
	case UBUS_ATTR_USER:
	case UBUS_ATTR_GROUP:
		return len >= 1 && data[len - 1] == 0;
	case UBUS_ATTR_ACTIVE:
	case UBUS_ATTR_NO_REPLY:
		return len == 1;
	case UBUS_ATTR_SIGNATURE:
	case UBUS_ATTR_DATA:
	case UBUS_ATTR_SUBSCRIBERS:
		return true;
	default:
		return false;
	}
}

bool ubus_msg_parse(const struct blob_attr *root, struct blob_attr **tb)
{
	const uint8_t *p = blob_data(root);
	size_t rem = blob_len(root);

	memset(tb, 0, sizeof(*tb) * UBUS_ATTR_MAX);
	while (rem >= sizeof(struct blob_attr)) {
		const struct blob_attr *a = (const struct blob_attr *) p;
		size_t raw = blob_raw_len(a);
		size_t pad = blob_pad_len(a);
		unsigned int id = blob_id(a);

		if (raw < sizeof(struct blob_attr) || raw > rem)
			return false;
		if (id < UBUS_ATTR_MAX && attr_shape_ok(id, a))
			tb[id] = (struct blob_attr *) a;
		if (pad >= rem)
			break;
		p += pad;
		rem -= pad;
	}
	return true;
}

static bool blobmsg_value_valid(int type, const uint8_t *v, size_t len, int depth)
{
	switch (type) {
	case BLOBMSG_TYPE_UNSPEC:
		return true;
	case BLOBMSG_TYPE_ARRAY:
	case BLOBMSG_TYPE_TABLE:
		return ubus_blobmsg_list_valid(v, len, depth + 1);
	case BLOBMSG_TYPE_STRING:
		return len >= 1 && v[len - 1] == 0;
	case BLOBMSG_TYPE_INT64:
		return len == 8;
	case BLOBMSG_TYPE_INT32:
		return len == 4;
	case BLOBMSG_TYPE_INT16:
		return len == 2;
	case BLOBMSG_TYPE_INT8:
		return len == 1;
	case BLOBMSG_TYPE_DOUBLE:
		return len >= 8;
	default:
		return false;
	}
}

static bool blobmsg_attr_valid(const struct blob_attr *a, int depth)
{
	const uint8_t *d = blob_data(a);
	size_t len = blob_len(a);
	size_t namelen, hdrlen;

	/* plain blob attributes carry no name header; nothing to look into */
	if (!blob_is_extended(a))
		return true;
	if (len < 2)
		return false;
	namelen = ((size_t) d[0] << 8) | d[1];
	hdrlen = (2 + namelen + 1 + 3) & ~(size_t) 3;
	if (len < hdrlen || d[2 + namelen] != 0)
		return false;
	return blobmsg_value_valid(blob_id(a), d + hdrlen, len - hdrlen, depth);
}

bool ubus_blobmsg_list_valid(const void *data, size_t len, int depth)
{
	const uint8_t *p = data;

	if (depth > UBUS_MAX_DEPTH)
		return false;
	while (len >= sizeof(struct blob_attr)) {
		const struct blob_attr *a = (const struct blob_attr *) p;
		size_t raw = blob_raw_len(a);
		size_t pad = blob_pad_len(a);

		if (raw < sizeof(struct blob_attr) || raw > len)
			return false;
		if (!blobmsg_attr_valid(a, depth))
			return false;
		if (pad >= len)
			break;
		p += pad;
		len -= pad;
	}
	return true;
}

/* Size the message being assembled will need in total, from its header. */
static size_t rx_wanted(const struct ubus_rx *rx)
{
	size_t have = rx->end - rx->start;
	size_t total;

	if (have < UBUS_FRAME_HEAD)
		return UBUS_FRAME_HEAD;
	total = ubus_frame_len(rx->buf + rx->start);
	return total ? total : UBUS_FRAME_HEAD;
}

uint8_t *ubus_rx_space(struct ubus_rx *rx, size_t *room)
{
	size_t want = rx_wanted(rx);
	size_t have = rx->end - rx->start;

	if (rx->start == rx->end)
		rx->start = rx->end = 0;
	/* compact when the tail is short of a whole message or a read's worth */
	if (rx->start && (rx->cap - rx->start < want || rx->cap - rx->end < 1024)) {
		memmove(rx->buf, rx->buf + rx->start, have);
		rx->start = 0;
		rx->end = have;
	}
	if (rx->cap < want || rx->cap == rx->end) {
		size_t cap = want < RX_MIN_CAP ? RX_MIN_CAP : want;

		if (cap <= rx->end)
			cap = rx->end + RX_MIN_CAP;
		uint8_t *buf = realloc(rx->buf, cap);

		if (!buf)
			return NULL;
		rx->buf = buf;
		rx->cap = cap;
	}
	*room = rx->cap - rx->end;
	return rx->buf + rx->end;
}

void ubus_rx_commit(struct ubus_rx *rx, size_t n)
{
	rx->end += n;
}

ssize_t ubus_rx_read(struct ubus_rx *rx, int fd)
{
	size_t room;
	uint8_t *p = ubus_rx_space(rx, &room);
	ssize_t n;

	if (!p) {
		errno = ENOMEM;
		return -1;
	}
	do {
		n = read(fd, p, room);
	} while (n < 0 && errno == EINTR);
	if (n > 0)
		rx->end += n;
	return n;
}

int ubus_rx_peek(struct ubus_rx *rx, uint8_t **msg, size_t *total)
{
	size_t have = rx->end - rx->start;
	size_t len;

	if (have < UBUS_FRAME_HEAD)
		return 0;
	len = ubus_frame_len(rx->buf + rx->start);
	if (!len)
		return -1;
	if (have < len)
		return 0;
	/* a preceding odd-sized message leaves this one unaligned */
	if (rx->start & 3) {
		memmove(rx->buf, rx->buf + rx->start, have);
		rx->start = 0;
		rx->end = have;
	}
	*msg = rx->buf + rx->start;
	*total = len;
	return 1;
}

void ubus_rx_consume(struct ubus_rx *rx, size_t total)
{
	rx->start += total;
	if (rx->start < rx->end)
		return;
	rx->start = rx->end = 0;
}

void ubus_rx_attach(struct ubus_rx *rx, uint8_t *buf, size_t cap)
{
	rx->buf = buf;
	rx->cap = cap;
	rx->start = rx->end = 0;
}

uint8_t *ubus_rx_detach(struct ubus_rx *rx)
{
	uint8_t *buf = rx->buf;

	if (!ubus_rx_empty(rx))
		return NULL;
	memset(rx, 0, sizeof(*rx));
	return buf;
}

void ubus_rx_shrink(struct ubus_rx *rx, size_t keep)
{
	if (ubus_rx_empty(rx) && rx->cap > keep)
		ubus_rx_free(rx);
}

void ubus_rx_free(struct ubus_rx *rx)
{
	free(rx->buf);
	memset(rx, 0, sizeof(*rx));
}
