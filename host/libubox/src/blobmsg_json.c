/*
 * blobmsg_json.c - json-c objects and JSON text to and from blobmsg
 */
#include "libubox/blobmsg_json.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <json-c/json.h>

/* ---- JSON to blobmsg ---- */

static bool
blobmsg_add_array(struct blob_buf *b, struct json_object *arr)
{
	size_t i, len = json_object_array_length(arr);

	for (i = 0; i < len; i++) {
		if (!blobmsg_add_json_element(b, NULL, json_object_array_get_idx(arr, i)))
			return false;
	}
	return true;
}

bool
blobmsg_add_object(struct blob_buf *b, struct json_object *obj)
{
	struct json_object_iterator it, end;

	if (!json_object_is_type(obj, json_type_object))
		return false;

	/* insertion order, as json-c keeps it */
	it = json_object_iter_begin(obj);
	end = json_object_iter_end(obj);
	while (!json_object_iter_equal(&it, &end)) {
		if (!blobmsg_add_json_element(b, json_object_iter_peek_name(&it),
					      json_object_iter_peek_value(&it)))
			return false;
		json_object_iter_next(&it);
	}
	return true;
}

bool
blobmsg_add_json_element(struct blob_buf *b, const char *name, struct json_object *obj)
{
	bool ret = true;
	void *c;

	switch (json_object_get_type(obj)) {
	case json_type_object:
		c = blobmsg_open_table(b, name);
		if (!c)
			return false;
		ret = blobmsg_add_object(b, obj);
		blobmsg_close_table(b, c);
		break;
	case json_type_array:
		c = blobmsg_open_array(b, name);
		if (!c)
			return false;
		ret = blobmsg_add_array(b, obj);
		blobmsg_close_array(b, c);
		break;
	case json_type_string:
		blobmsg_add_string(b, name, json_object_get_string(obj));
		break;
	case json_type_boolean:
		blobmsg_add_u8(b, name, json_object_get_boolean(obj) ? 1 : 0);
		break;
	case json_type_int: {
		int64_t i64 = json_object_get_int64(obj);

		if (i64 >= INT32_MIN && i64 <= INT32_MAX)
			blobmsg_add_u32(b, name, (uint32_t) (int32_t) i64);
		else
			blobmsg_add_u64(b, name, (uint64_t) i64);
		break;
	}
	case json_type_double:
		blobmsg_add_double(b, name, json_object_get_double(obj));
		break;
	case json_type_null:
		blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, name, NULL, 0);
		break;
	default:
		return false;
	}

	return ret;
}

static bool
blobmsg_add_json_toplevel(struct blob_buf *b, struct json_object *obj)
{
	bool ret = false;

	if (!obj)
		return false;

	if (json_object_is_type(obj, json_type_object))
		ret = blobmsg_add_object(b, obj);

	json_object_put(obj);
	return ret;
}

bool
blobmsg_add_json_from_string(struct blob_buf *b, const char *str)
{
	if (!str)
		return false;
	return blobmsg_add_json_toplevel(b, json_tokener_parse(str));
}

bool
blobmsg_add_json_from_file(struct blob_buf *b, const char *file)
{
	if (!file)
		return false;
	return blobmsg_add_json_toplevel(b, json_object_from_file(file));
}

/* ---- blobmsg to JSON text ---- */

#define JSON_MAX_TABS 16

/*
 * Containers nest by recursion. A message can hold far more levels than any
 * stack (an 800 KiB message of empty arrays is 100000 deep), so deeper input
 * is refused as a whole, like an allocation failure, instead of crashing.
 */
#define JSON_MAX_DEPTH 256

struct strbuf {
	char *buf;
	size_t len;
	size_t size;
	bool error;

	bool pretty;
	int level;
	int depth;

	blobmsg_json_format_t custom_format;
	void *priv;
};

/* the longest "%lf": 309 integer digits of DBL_MAX, sign, point, six decimals */
#define JSON_DOUBLE_MAX	320

static bool
strbuf_grow(struct strbuf *s, size_t extra)
{
	size_t need, size;
	char *n;

	if (s->error)
		return false;

	need = s->len + extra + 1;
	size = s->size ? s->size : 256;
	while (size < need)
		size *= 2;

	n = realloc(s->buf, size);
	if (!n) {
		s->error = true;
		return false;
	}
	s->buf = n;
	s->size = size;
	return true;
}

/*
 * Where the next extra bytes go, with room for the final NUL behind them;
 * NULL once an allocation failed. Writers add what they wrote to s->len.
 */
static inline char *
strbuf_room(struct strbuf *s, size_t extra)
{
	if (s->size - s->len <= extra && !strbuf_grow(s, extra))
		return NULL;
	return s->buf + s->len;
}

static inline void
strbuf_add(struct strbuf *s, const char *str, size_t len)
{
	char *o = strbuf_room(s, len);

	if (!o)
		return;
	memcpy(o, str, len);
	s->len += len;
}

#define strbuf_add_lit(s, lit)	strbuf_add(s, lit, sizeof(lit) - 1)

static inline void
strbuf_putc(struct strbuf *s, char c)
{
	char *o = strbuf_room(s, 1);

	if (!o)
		return;
	*o = c;
	s->len++;
}

static void
strbuf_put_int(struct strbuf *s, int64_t v)
{
	char tmp[24], *end = tmp + sizeof(tmp), *p = end;
	uint64_t u = v < 0 ? -(uint64_t) v : (uint64_t) v;
	uint32_t w;

	/* 64-bit division is a library call on 32-bit targets */
	while (u > UINT32_MAX) {
		*--p = '0' + u % 10;
		u /= 10;
	}
	w = (uint32_t) u;
	do {
		*--p = '0' + w % 10;
		w /= 10;
	} while (w);
	if (v < 0)
		*--p = '-';
	strbuf_add(s, p, end - p);
}

static void
strbuf_put_double(struct strbuf *s, double d)
{
	char *o = strbuf_room(s, JSON_DOUBLE_MAX);
	int n;

	if (!o)
		return;
	n = snprintf(o, JSON_DOUBLE_MAX + 1, "%lf", d);
	if (n < 0 || n > JSON_DOUBLE_MAX) {
		s->error = true;
		return;
	}
	s->len += n;
}

static void
strbuf_newline(struct strbuf *s)
{
	static const char tabs[1 + JSON_MAX_TABS] = "\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
	int n = s->level;

	if (!s->pretty)
		return;

	if (n > JSON_MAX_TABS)
		n = JSON_MAX_TABS;
	if (n < 0)
		n = 0;

	strbuf_add(s, tabs, 1 + n);
}

/*
 * For each byte a JSON string cannot hold as it is, the letter after the
 * backslash; 'u' means \u00XX. NUL ends the string.
 */
static const char json_escape[256] = {
	'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'b', 't', 'n', 'u', 'u', 'r', 'u', 'u',
	'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u',
	['"'] = '"',
	['\\'] = '\\',
};

static void
strbuf_put_string(struct strbuf *s, const char *str)
{
	static const char hex[16] = "0123456789abcdef";
	const unsigned char *p = (const unsigned char *) str;

	strbuf_putc(s, '"');
	for (;;) {
		const unsigned char *run = p;
		size_t n;
		char esc, *o;

		while (!json_escape[*p])
			p++;
		/* the run, and room for the escape that ends it */
		n = p - run;
		o = strbuf_room(s, n + 6);
		if (!o)
			return;
		memcpy(o, run, n);
		o += n;
		if (!*p) {
			s->len += n;
			break;
		}
		esc = json_escape[*p];
		*o++ = '\\';
		*o++ = esc;
		if (esc == 'u') {
			*o++ = '0';
			*o++ = '0';
			*o++ = hex[*p >> 4];
			*o++ = hex[*p & 15];
		}
		s->len = o - s->buf;
		p++;
	}
	strbuf_putc(s, '"');
}

static void blobmsg_format_list(struct strbuf *s, struct blob_attr *data, size_t len, bool array);

static void
blobmsg_format_value(struct strbuf *s, struct blob_attr *attr)
{
	void *data = blobmsg_data(attr);
	size_t len = blobmsg_data_len(attr);

	switch (blob_id(attr)) {
	case BLOBMSG_TYPE_UNSPEC:
		strbuf_add_lit(s, "null");
		break;
	case BLOBMSG_TYPE_INT8:
		if (*(uint8_t *) data)
			strbuf_add_lit(s, "true");
		else
			strbuf_add_lit(s, "false");
		break;
	case BLOBMSG_TYPE_INT16:
		strbuf_put_int(s, (int16_t) blobmsg_get_u16(attr));
		break;
	case BLOBMSG_TYPE_INT32:
		strbuf_put_int(s, (int32_t) blobmsg_get_u32(attr));
		break;
	case BLOBMSG_TYPE_INT64:
		strbuf_put_int(s, (int64_t) blobmsg_get_u64(attr));
		break;
	case BLOBMSG_TYPE_DOUBLE:
		strbuf_put_double(s, blobmsg_get_double(attr));
		break;
	case BLOBMSG_TYPE_STRING:
		strbuf_put_string(s, data);
		break;
	case BLOBMSG_TYPE_ARRAY:
		blobmsg_format_list(s, data, len, true);
		break;
	case BLOBMSG_TYPE_TABLE:
		blobmsg_format_list(s, data, len, false);
		break;
	}
}

/* Prints one element; an invalid one prints nothing at all. */
static void
blobmsg_format_element(struct strbuf *s, struct blob_attr *attr, bool without_name)
{
	const char *custom;

	if (!blobmsg_check_attr(attr, false))
		return;

	/* only extended attributes carry a name header */
	if (!without_name && blob_is_extended(attr) && blobmsg_name(attr)[0]) {
		strbuf_put_string(s, blobmsg_name(attr));
		if (s->pretty)
			strbuf_add_lit(s, ": ");
		else
			strbuf_putc(s, ':');
	}

	if (s->custom_format) {
		custom = s->custom_format(s->priv, attr);
		if (custom) {
			strbuf_add(s, custom, strlen(custom));
			return;
		}
	}

	blobmsg_format_value(s, attr);
}

static void
blobmsg_format_list(struct strbuf *s, struct blob_attr *data, size_t len, bool array)
{
	struct blob_attr *pos;
	size_t rem = len;
	bool first = true;

	if (s->error)
		return;
	if (s->depth >= JSON_MAX_DEPTH) {
		s->error = true;
		return;
	}
	s->depth++;

	strbuf_putc(s, array ? '[' : '{');
	s->level++;
	strbuf_newline(s);

	__blob_for_each_attr(pos, data, rem) {
		if (!first) {
			strbuf_putc(s, ',');
			strbuf_newline(s);
		}
		first = false;
		blobmsg_format_element(s, pos, array);
	}

	s->level--;
	strbuf_newline(s);
	strbuf_putc(s, array ? ']' : '}');
	s->depth--;
}

static void
strbuf_setup(struct strbuf *s, blobmsg_json_format_t cb, void *priv, int indent)
{
	memset(s, 0, sizeof(*s));
	s->custom_format = cb;
	s->priv = priv;
	if (indent >= 0) {
		s->pretty = true;
		s->level = indent;
	}
}

static char *
strbuf_finish(struct strbuf *s, struct blob_attr *attr)
{
	if (s->error) {
		free(s->buf);
		return NULL;
	}

	/* nothing printed: "" for a rejected element with a payload, NULL for an empty one */
	if (!s->buf)
		return blob_len(attr) ? strdup("") : NULL;

	s->buf[s->len] = 0;
	return s->buf;
}

char *
blobmsg_format_json_with_cb(struct blob_attr *attr, bool list,
			    blobmsg_json_format_t cb, void *priv, int indent)
{
	struct strbuf s;

	if (!attr)
		return NULL;

	strbuf_setup(&s, cb, priv, indent);

	if (list) {
		bool array = blob_is_extended(attr) && blobmsg_type(attr) == BLOBMSG_TYPE_ARRAY;

		blobmsg_format_list(&s, blobmsg_data(attr), blobmsg_data_len(attr), array);
	} else {
		blobmsg_format_element(&s, attr, false);
	}

	return strbuf_finish(&s, attr);
}

char *
blobmsg_format_json_value_with_cb(struct blob_attr *attr, blobmsg_json_format_t cb,
				  void *priv, int indent)
{
	struct strbuf s;

	if (!attr)
		return NULL;

	strbuf_setup(&s, cb, priv, indent);
	blobmsg_format_element(&s, attr, true);

	return strbuf_finish(&s, attr);
}
