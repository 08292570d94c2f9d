#include "helpers.h"

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
