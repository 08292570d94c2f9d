/*
 * blob.c - building and walking blob attributes
 */
#include "libubox/blob.h"

#include <stdint.h>

#define BLOB_GROW_STEP 256

/* Nest cookies are offsets, because growing the buffer may move it. */
static void *
attr_to_cookie(struct blob_buf *buf, struct blob_attr *attr)
{
	return (void *) (uintptr_t) ((char *) attr - (char *) buf->buf + BLOB_COOKIE);
}

static struct blob_attr *
cookie_to_attr(struct blob_buf *buf, void *cookie)
{
	uintptr_t offset = (uintptr_t) cookie - BLOB_COOKIE;
	return (struct blob_attr *) ((char *) buf->buf + offset);
}

static bool
blob_default_grow(struct blob_buf *buf, int minlen)
{
	int delta = ((minlen / BLOB_GROW_STEP) + 1) * BLOB_GROW_STEP;
	char *n;

	n = realloc(buf->buf, (size_t) buf->buflen + delta);
	if (!n)
		return false;

	memset(n + buf->buflen, 0, delta);
	buf->buf = n;
	buf->buflen += delta;
	return true;
}

bool
blob_buf_grow(struct blob_buf *buf, int required)
{
	size_t offset;

	if (required <= 0)
		return true;
	if ((int64_t) buf->buflen + required > BLOB_ATTR_LEN_MASK)
		return false;
	if (!buf->grow)
		return false;

	offset = buf->head ? (size_t) ((char *) buf->head - (char *) buf->buf) : 0;
	if (!buf->grow(buf, required))
		return false;

	buf->head = (struct blob_attr *) ((char *) buf->buf + offset);
	return true;
}

static void
blob_init_attr(struct blob_attr *attr, int id, unsigned int len)
{
	uint32_t id_len = ((uint32_t) id << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK;

	id_len |= len & BLOB_ATTR_LEN_MASK;
	attr->id_len = cpu_to_be32(id_len);
}

void
blob_fill_pad(struct blob_attr *attr)
{
	char *p = (char *) attr;
	size_t raw = blob_raw_len(attr);
	size_t pad = blob_pad_len(attr);

	if (pad > raw)
		memset(p + raw, 0, pad - raw);
}

void
blob_set_raw_len(struct blob_attr *attr, unsigned int len)
{
	uint32_t id_len = be32_to_cpu(attr->id_len);

	id_len &= ~(uint32_t) BLOB_ATTR_LEN_MASK;
	id_len |= len & BLOB_ATTR_LEN_MASK;
	attr->id_len = cpu_to_be32(id_len);
}

/*
 * Padding of a fresh attribute, before its payload is written: it lies
 * within the attribute's last word, past the header, so one store clears it.
 */
static void
blob_clear_pad(struct blob_attr *attr)
{
	static const uint32_t zero;
	size_t pad = blob_pad_len(attr);

	if (pad > blob_raw_len(attr))
		memcpy((char *) attr + pad - sizeof(zero), &zero, sizeof(zero));
}

/* Places a header for a payload-byte attribute at pos, growing first if needed. */
static struct blob_attr *
blob_add(struct blob_buf *buf, struct blob_attr *pos, int id, int payload)
{
	int64_t offset = (char *) pos - (char *) buf->buf;
	int64_t end;
	struct blob_attr *attr;

	if (payload < 0)
		return NULL;

	end = offset + (int64_t) sizeof(struct blob_attr) + payload;
	if (end > BLOB_ATTR_LEN_MASK)
		return NULL;

	if (end > buf->buflen) {
		if (!blob_buf_grow(buf, (int) (end - buf->buflen)))
			return NULL;
	}

	attr = (struct blob_attr *) ((char *) buf->buf + offset);
	blob_init_attr(attr, id, sizeof(struct blob_attr) + payload);
	blob_clear_pad(attr);
	return attr;
}

int
blob_buf_init(struct blob_buf *buf, int id)
{
	if (!buf->grow)
		buf->grow = blob_default_grow;

	buf->head = buf->buf;
	if (blob_add(buf, buf->buf, id, 0) == NULL)
		return -ENOMEM;

	return 0;
}

void
blob_buf_free(struct blob_buf *buf)
{
	free(buf->buf);
	buf->buf = NULL;
	buf->head = NULL;
	buf->buflen = 0;
}

struct blob_attr *
blob_new(struct blob_buf *buf, int id, int payload)
{
	struct blob_attr *attr;

	if (!buf->head)
		return NULL;

	attr = blob_add(buf, blob_next(buf->head), id, payload);
	if (!attr)
		return NULL;

	blob_set_raw_len(buf->head, blob_pad_len(buf->head) + blob_pad_len(attr));
	return attr;
}

struct blob_attr *
blob_put_raw(struct blob_buf *buf, const void *ptr, unsigned int len)
{
	struct blob_attr *attr;

	if (len < sizeof(struct blob_attr) || !ptr || !buf->head)
		return NULL;
	if (len > BLOB_ATTR_LEN_MASK)
		return NULL;

	attr = blob_add(buf, blob_next(buf->head), 0, len - sizeof(struct blob_attr));
	if (!attr)
		return NULL;

	blob_set_raw_len(buf->head, blob_pad_len(buf->head) + len);
	memcpy(attr, ptr, len);
	return attr;
}

struct blob_attr *
blob_put(struct blob_buf *buf, int id, const void *ptr, unsigned int len)
{
	struct blob_attr *attr;

	if (len > BLOB_ATTR_LEN_MASK)
		return NULL;

	attr = blob_new(buf, id, len);
	if (!attr)
		return NULL;

	if (ptr)
		memcpy(blob_data(attr), ptr, len);
	return attr;
}

void *
blob_nest_start(struct blob_buf *buf, int id)
{
	void *cookie;
	struct blob_attr *attr;

	if (!buf->head)
		return NULL;

	cookie = attr_to_cookie(buf, buf->head);
	attr = blob_new(buf, id, 0);
	if (!attr)
		return NULL;

	buf->head = attr;
	return cookie;
}

void
blob_nest_end(struct blob_buf *buf, void *cookie)
{
	struct blob_attr *attr;

	if (!cookie || !buf->head)
		return;

	attr = cookie_to_attr(buf, cookie);
	blob_set_raw_len(attr, blob_pad_len(attr) + blob_len(buf->head));
	buf->head = attr;
}

static const unsigned int blob_type_minlen[BLOB_ATTR_LAST] = {
	[BLOB_ATTR_STRING] = 1,
	[BLOB_ATTR_INT8] = sizeof(uint8_t),
	[BLOB_ATTR_INT16] = sizeof(uint16_t),
	[BLOB_ATTR_INT32] = sizeof(uint32_t),
	[BLOB_ATTR_INT64] = sizeof(uint64_t),
	[BLOB_ATTR_DOUBLE] = sizeof(double),
};

bool
blob_check_type(const void *ptr, unsigned int len, int type)
{
	const char *data = ptr;

	if (type < 0 || type >= BLOB_ATTR_LAST)
		return false;

	if (type >= BLOB_ATTR_INT8 && type <= BLOB_ATTR_INT64) {
		if (len != blob_type_minlen[type])
			return false;
	} else if (len < blob_type_minlen[type]) {
		return false;
	}

	if (type == BLOB_ATTR_STRING && data[len - 1] != 0)
		return false;

	return true;
}

static bool
blob_attr_acceptable(struct blob_attr *pos, const struct blob_attr_info *info)
{
	unsigned int len = blob_raw_len(pos);

	if (!info)
		return true;
	if (info->type < BLOB_ATTR_LAST &&
	    !blob_check_type(blob_data(pos), blob_len(pos), info->type))
		return false;
	if (info->minlen && len < info->minlen)
		return false;
	if (info->maxlen && len > info->maxlen)
		return false;
	if (info->validate && !info->validate(info, pos))
		return false;
	return true;
}

static int
blob_parse_store(struct blob_attr *pos, struct blob_attr **data,
		 const struct blob_attr_info *info, int max)
{
	unsigned int id = blob_id(pos);

	/* shorter than its own header: blob_len() would wrap around */
	if (blob_raw_len(pos) < sizeof(struct blob_attr))
		return 0;
	if (id >= (unsigned int) max)
		return 0;
	if (!blob_attr_acceptable(pos, info ? &info[id] : NULL))
		return 0;

	/* the last duplicate wins, but counts once */
	int fresh = data[id] == NULL;
	data[id] = pos;
	return fresh;
}

int
blob_parse(struct blob_attr *attr, struct blob_attr **data,
	   const struct blob_attr_info *info, int max)
{
	struct blob_attr *pos;
	size_t rem;
	int found = 0;

	if (max > 0)
		memset(data, 0, sizeof(struct blob_attr *) * max);

	blob_for_each_attr(pos, attr, rem)
		found += blob_parse_store(pos, data, info, max);

	return found;
}

int
blob_parse_untrusted(struct blob_attr *attr, size_t attr_len, struct blob_attr **data,
		     const struct blob_attr_info *info, int max)
{
	struct blob_attr *pos;
	size_t rem;
	int found = 0;

	if (max > 0)
		memset(data, 0, sizeof(struct blob_attr *) * max);

	if (!attr || attr_len < sizeof(struct blob_attr))
		return 0;
	if (attr_len < blob_raw_len(attr))
		return 0;

	blob_for_each_attr_len(pos, attr, attr_len, rem)
		found += blob_parse_store(pos, data, info, max);

	return found;
}

bool
blob_attr_equal(const struct blob_attr *a1, const struct blob_attr *a2)
{
	if (!a1 && !a2)
		return true;
	if (!a1 || !a2)
		return false;
	if (blob_pad_len(a1) != blob_pad_len(a2))
		return false;

	return !memcmp(a1, a2, blob_pad_len(a1));
}

struct blob_attr *
blob_memdup(struct blob_attr *attr)
{
	size_t size = blob_pad_len(attr);
	struct blob_attr *ret;

	ret = malloc(size);
	if (!ret)
		return NULL;

	memcpy(ret, attr, size);
	return ret;
}
