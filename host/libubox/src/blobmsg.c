/*
 * blobmsg.c - named, typed attributes: adding, checking and parsing
 */
#include "libubox/blobmsg.h"

#include <stdint.h>

/* blob type a blobmsg value must satisfy; -1 for containers (not checked) */
static const int blobmsg_value_type[] = {
	[BLOBMSG_TYPE_UNSPEC] = BLOB_ATTR_BINARY,
	[BLOBMSG_TYPE_ARRAY] = -1,
	[BLOBMSG_TYPE_TABLE] = -1,
	[BLOBMSG_TYPE_STRING] = BLOB_ATTR_STRING,
	[BLOBMSG_TYPE_INT64] = BLOB_ATTR_INT64,
	[BLOBMSG_TYPE_INT32] = BLOB_ATTR_INT32,
	[BLOBMSG_TYPE_INT16] = BLOB_ATTR_INT16,
	[BLOBMSG_TYPE_INT8] = BLOB_ATTR_INT8,
	[BLOBMSG_TYPE_DOUBLE] = BLOB_ATTR_DOUBLE,
};

bool
blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len)
{
	const struct blobmsg_hdr *hdr;
	const char *data;
	size_t data_len;
	unsigned int id;
	int vtype;

	if (!attr || len < sizeof(struct blob_attr))
		return false;
	if (blob_raw_len(attr) < sizeof(struct blob_attr) || blob_raw_len(attr) > len)
		return false;

	data = blob_data(attr);
	data_len = blob_len(attr);

	if (!blob_is_extended(attr)) {
		if (name)
			return false;
	} else {
		uint16_t namelen;
		size_t hdrlen;

		if (data_len < sizeof(struct blobmsg_hdr))
			return false;

		hdr = (const struct blobmsg_hdr *) data;
		namelen = blobmsg_namelen(hdr);
		if (name && !namelen)
			return false;

		hdrlen = blobmsg_hdrlen(namelen);
		if (data_len < hdrlen)
			return false;
		if (hdr->name[namelen] != 0)
			return false;

		data += hdrlen;
		data_len -= hdrlen;
	}

	id = blob_id(attr);
	if (id > BLOBMSG_TYPE_LAST)
		return false;

	vtype = blobmsg_value_type[id];
	if (vtype < 0)
		return true;

	return blob_check_type(data, data_len, vtype);
}

bool
blobmsg_check_attr(const struct blob_attr *attr, bool name)
{
	if (!attr)
		return false;
	return blobmsg_check_attr_len(attr, name, blob_raw_len(attr));
}

int
blobmsg_check_array_len(const struct blob_attr *attr, int type, size_t len)
{
	const struct blob_attr *cur;
	size_t rem;
	bool name;
	int size = 0;

	if (!blobmsg_check_attr_len(attr, false, len))
		return -1;

	switch (blobmsg_type(attr)) {
	case BLOBMSG_TYPE_TABLE:
		name = true;
		break;
	case BLOBMSG_TYPE_ARRAY:
		name = false;
		break;
	default:
		return -1;
	}

	rem = blobmsg_data_len(attr);
	__blob_for_each_attr(cur, blobmsg_data(attr), rem) {
		if (type != BLOBMSG_TYPE_UNSPEC && blobmsg_type(cur) != type)
			return -1;
		if (!blobmsg_check_attr_len(cur, name, rem))
			return -1;
		size++;
	}

	/* bytes left over mean a child claimed more than its container holds */
	if (rem != 0)
		return -1;

	return size;
}

int
blobmsg_check_array(const struct blob_attr *attr, int type)
{
	if (!attr)
		return -1;
	return blobmsg_check_array_len(attr, type, blob_raw_len(attr));
}

bool
blobmsg_check_attr_list_len(const struct blob_attr *attr, int type, size_t len)
{
	return blobmsg_check_array_len(attr, type, len) >= 0;
}

bool
blobmsg_check_attr_list(const struct blob_attr *attr, int type)
{
	return blobmsg_check_array(attr, type) >= 0;
}

static bool
blobmsg_policy_type_matches(int policy_type, int type)
{
	if (policy_type == BLOBMSG_TYPE_UNSPEC)
		return true;
	if (policy_type == BLOBMSG_CAST_INT64)
		return type == BLOBMSG_TYPE_INT64 || type == BLOBMSG_TYPE_INT32 ||
		       type == BLOBMSG_TYPE_INT16 || type == BLOBMSG_TYPE_INT8;
	return policy_type == type;
}

int
blobmsg_parse_array(const struct blobmsg_policy *policy, int policy_len,
		    struct blob_attr **tb, void *data, unsigned int len)
{
	struct blob_attr *attr;
	size_t rem = len;
	int i = 0;

	if (policy_len <= 0)
		return 0;

	memset(tb, 0, policy_len * sizeof(*tb));
	if (!data)
		return 0;

	__blob_for_each_attr(attr, data, rem) {
		if (policy[i].type != BLOBMSG_TYPE_UNSPEC &&
		    blob_id(attr) != (unsigned int) policy[i].type)
			continue;

		if (!blobmsg_check_attr_len(attr, false, rem))
			return -1;

		tb[i++] = attr;
		if (i == policy_len)
			break;
	}

	return 0;
}

/* pname equals the namelen bytes of name, which may hold a NUL of their own */
static inline bool
blobmsg_name_is(const char *pname, const char *name, size_t namelen)
{
	size_t i;

	for (i = 0; i < namelen; i++)
		if (pname[i] != name[i] || !pname[i])
			return false;
	return pname[namelen] == 0;
}

int
blobmsg_parse(const struct blobmsg_policy *policy, int policy_len,
	      struct blob_attr **tb, void *data, unsigned int len)
{
	struct blob_attr *attr;
	size_t rem = len;
	int i;

	if (policy_len > 0)
		memset(tb, 0, policy_len * sizeof(*tb));

	if (!data || !len)
		return -EINVAL;

	__blob_for_each_attr(attr, data, rem) {
		const struct blobmsg_hdr *hdr;
		uint16_t namelen;

		if (!blobmsg_check_attr_len(attr, false, rem))
			return -1;

		if (!blob_is_extended(attr))
			continue;

		hdr = blob_data(attr);
		namelen = blobmsg_namelen(hdr);
		for (i = 0; i < policy_len; i++) {
			const char *pname = policy[i].name;

			/* the first occurrence wins */
			if (!pname || tb[i])
				continue;
			if (!blobmsg_policy_type_matches(policy[i].type, blob_id(attr)))
				continue;
			if (!blobmsg_name_is(pname, (const char *) hdr->name, namelen))
				continue;
			tb[i] = attr;
		}
	}

	return 0;
}

static struct blob_attr *
blobmsg_new(struct blob_buf *buf, int type, const char *name, unsigned int payload_len, void **data)
{
	struct blob_attr *attr;
	static const uint32_t zero;
	struct blobmsg_hdr *hdr;
	size_t namelen = name ? strlen(name) : 0;
	int hdrlen;

	if (namelen > UINT16_MAX || payload_len > BLOB_ATTR_LEN_MASK)
		return NULL;

	hdrlen = blobmsg_hdrlen(namelen);
	attr = blob_new(buf, type, hdrlen + payload_len);
	if (!attr)
		return NULL;

	attr->id_len |= cpu_to_be32(BLOB_ATTR_EXTENDED);
	hdr = blob_data(attr);
	/* the name's terminator and padding all lie in the header's last word */
	memcpy((char *) hdr + hdrlen - sizeof(zero), &zero, sizeof(zero));
	hdr->namelen = cpu_to_be16((uint16_t) namelen);
	if (namelen)
		memcpy(hdr->name, name, namelen);

	*data = blobmsg_data(attr);
	return attr;
}

int
blobmsg_add_field(struct blob_buf *buf, int type, const char *name,
		  const void *data, unsigned int len)
{
	struct blob_attr *attr;
	void *data_dest;

	attr = blobmsg_new(buf, type, name, len, &data_dest);
	if (!attr)
		return -1;

	if (len > 0)
		memcpy(data_dest, data, len);

	return 0;
}

void *
blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array)
{
	struct blob_attr *head;
	struct blob_attr *attr;
	void *data;
	void *cookie;
	int type = array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE;
	uintptr_t offset;

	if (!buf->head)
		return NULL;

	offset = (uintptr_t) ((char *) buf->head - (char *) buf->buf);
	attr = blobmsg_new(buf, type, name, 0, &data);
	if (!attr)
		return NULL;

	/*
	 * The parent counts only the 4-byte header for now; closing adds the
	 * nest's payload, name header included.
	 */
	head = (struct blob_attr *) ((char *) buf->buf + offset);
	blob_set_raw_len(head, blob_pad_len(head) - (blob_raw_len(attr) - sizeof(struct blob_attr)));

	cookie = (void *) (offset + BLOB_COOKIE);
	buf->head = attr;
	return cookie;
}

void *
blobmsg_alloc_string_buffer(struct blob_buf *buf, const char *name, unsigned int maxlen)
{
	struct blob_attr *attr;
	void *data_dest;

	if (maxlen >= BLOB_ATTR_LEN_MASK)
		return NULL;

	attr = blobmsg_new(buf, BLOBMSG_TYPE_STRING, name, maxlen + 1, &data_dest);
	if (!attr)
		return NULL;

	/* reserved, not committed: the parent and the attribute drop the value again */
	blob_set_raw_len(buf->head, blob_pad_len(buf->head) - blob_pad_len(attr));
	blob_set_raw_len(attr, blob_raw_len(attr) - (maxlen + 1));

	return data_dest;
}

void *
blobmsg_realloc_string_buffer(struct blob_buf *buf, unsigned int maxlen)
{
	struct blob_attr *attr = blob_next(buf->head);
	size_t data_off = (char *) blobmsg_data(attr) - (char *) buf->buf;
	int64_t end = (int64_t) data_off + maxlen + 1;

	if (end > BLOB_ATTR_LEN_MASK)
		return NULL;
	if (end > buf->buflen && !blob_buf_grow(buf, (int) (end - buf->buflen)))
		return NULL;

	return (char *) buf->buf + data_off;
}

void
blobmsg_add_string_buffer(struct blob_buf *buf)
{
	struct blob_attr *attr = blob_next(buf->head);
	char *data = blobmsg_data(attr);
	char *buf_end = (char *) buf->buf + buf->buflen;
	size_t len;

	/* never run past the buffer if the caller forgot the NUL */
	if (data >= buf_end)
		return;
	len = strnlen(data, buf_end - data - 1);
	data[len] = 0;

	blob_set_raw_len(attr, blob_raw_len(attr) + len + 1);
	blob_fill_pad(attr);
	blob_set_raw_len(buf->head, blob_pad_len(buf->head) + blob_pad_len(attr));
}

int
blobmsg_vprintf(struct blob_buf *buf, const char *name, const char *format, va_list arg)
{
	va_list arg2;
	char cbuf;
	char *sbuf;
	int len, ret;

	va_copy(arg2, arg);
	len = vsnprintf(&cbuf, sizeof(cbuf), format, arg2);
	va_end(arg2);
	if (len < 0)
		return -1;

	sbuf = blobmsg_alloc_string_buffer(buf, name, len);
	if (!sbuf)
		return -1;

	ret = vsnprintf(sbuf, len + 1, format, arg);
	if (ret < 0)
		return -1;

	blobmsg_add_string_buffer(buf);
	return ret;
}

int
blobmsg_printf(struct blob_buf *buf, const char *name, const char *format, ...)
{
	va_list ap;
	int ret;

	va_start(ap, format);
	ret = blobmsg_vprintf(buf, name, format, ap);
	va_end(ap);

	return ret;
}
