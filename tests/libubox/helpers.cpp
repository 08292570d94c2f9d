#include "helpers.h"

extern "C" {
#include <libubox/blobmsg.h>
}

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<uint8_t> hex_bytes(const char *dump)
{
	std::vector<uint8_t> out;
	const char *p = dump;

	while (*p) {
		if (isspace((unsigned char) *p)) {
			p++;
			continue;
		}
		// skip "0000:" offset columns
		if (isxdigit((unsigned char) p[0]) && isxdigit((unsigned char) p[1]) &&
		    isxdigit((unsigned char) p[2]) && isxdigit((unsigned char) p[3]) && p[4] == ':') {
			p += 5;
			continue;
		}
		unsigned int v;
		if (sscanf(p, "%2x", &v) != 1)
			abort();
		out.push_back((uint8_t) v);
		p += 2;
	}
	return out;
}

std::vector<uint8_t> attr_bytes(const struct blob_attr *attr)
{
	const uint8_t *p = (const uint8_t *) attr;
	return std::vector<uint8_t>(p, p + blob_pad_len(attr));
}

std::string hex_string(const std::vector<uint8_t> &v)
{
	std::string s;
	char tmp[4];

	for (size_t i = 0; i < v.size(); i++) {
		snprintf(tmp, sizeof(tmp), "%02x", v[i]);
		if (i)
			s += (i % 16) ? " " : "\n";
		s += tmp;
	}
	return s;
}

std::string take_string(char *s)
{
	if (!s)
		return "(null)";
	std::string r(s);
	free(s);
	return r;
}

void add_dump_e(struct blob_buf *b)
{
	void *tbl = blobmsg_open_table(b, "tbl");
	blobmsg_add_string(b, "name", "eth0");
	blobmsg_add_u8(b, "up", 1);
	blobmsg_add_u16(b, "mtu16", 1500);
	blobmsg_add_u32(b, "rx", 0xffffffff);
	blobmsg_add_u64(b, "bytes", 1ULL << 40);
	blobmsg_add_double(b, "rate", 0.25);
	blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, "none", NULL, 0);
	void *arr = blobmsg_open_array(b, "a");
	blobmsg_add_string(b, NULL, "x");
	blobmsg_close_array(b, arr);
	blobmsg_close_table(b, tbl);
}
