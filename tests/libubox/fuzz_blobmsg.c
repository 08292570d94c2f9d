/*
 * libFuzzer target for what arrives from outside: a binary message that is
 * checked, parsed and printed, or JSON text taken in and printed back.
 * The first byte picks which; the rest is the input.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <libubox/blobmsg_json.h>

static void
fuzz_binary(const uint8_t *data, size_t size)
{
	static const struct blobmsg_policy pol[3] = {
		{ "tbl", BLOBMSG_TYPE_TABLE }, { "a", BLOBMSG_TYPE_ARRAY }, { "n", BLOBMSG_CAST_INT64 },
	};
	struct blob_attr *tb[3], *inner[3], *raw[8];
	struct blob_attr *root;
	uint8_t *copy;

	/* an exact-size copy: any read past it is caught */
	copy = malloc(size ? size : 1);
	if (!copy)
		return;
	memcpy(copy, data, size);
	root = (struct blob_attr *) copy;

	blob_parse_untrusted(root, size, raw, NULL, 8);
	if (blobmsg_check_attr_len(root, false, size)) {
		blobmsg_parse(pol, 3, tb, blob_data(root), blob_len(root));
		for (int i = 0; i < 2; i++) {
			if (!tb[i])
				continue;
			blobmsg_check_array(tb[i], BLOBMSG_TYPE_UNSPEC);
			blobmsg_parse_attr(pol, 3, inner, tb[i]);
			blobmsg_parse_array_attr(pol, 3, inner, tb[i]);
		}
		if (tb[2])
			(void) blobmsg_cast_s64(tb[2]);
		free(blobmsg_format_json(root, true));
		free(blobmsg_format_json_indent(root, true, 0));
	}
	free(copy);
}

static char *
json_through_blobmsg(const char *text)
{
	struct blob_buf b;
	char *out = NULL;

	memset(&b, 0, sizeof(b));
	blob_buf_init(&b, 0);
	if (blobmsg_add_json_from_string(&b, text))
		out = blobmsg_format_json(b.head, true);
	blob_buf_free(&b);
	return out;
}

static void
fuzz_json(const uint8_t *data, size_t size)
{
	char *text = malloc(size + 1);
	char *once, *twice, *thrice;

	if (!text)
		return;
	memcpy(text, data, size);
	text[size] = 0;

	/* once printed, the text must read back to itself */
	once = json_through_blobmsg(text);
	twice = once ? json_through_blobmsg(once) : NULL;
	thrice = twice ? json_through_blobmsg(twice) : NULL;
	if (twice && thrice && strcmp(twice, thrice) != 0)
		abort();

	free(thrice);
	free(twice);
	free(once);
	free(text);
}

int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	if (data[0] & 1)
		fuzz_json(data + 1, size - 1);
	else
		fuzz_binary(data + 1, size - 1);
	return 0;
}
