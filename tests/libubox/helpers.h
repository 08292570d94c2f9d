// Shared helpers for the libubox tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libubox/blob.h>
}

// An exact-size heap copy, so that any read past it trips the address sanitizer.
struct Exact {
	std::vector<uint8_t> bytes;
	explicit Exact(const std::vector<uint8_t> &v) : bytes(v) {}
	struct blob_attr *attr() { return (struct blob_attr *) bytes.data(); }
};

// "00 0a 65 ..." (any whitespace, optional "0000:" offsets) to bytes.
std::vector<uint8_t> hex_bytes(const char *dump);

// The bytes of attr for blob_pad_len(attr) bytes.
std::vector<uint8_t> attr_bytes(const struct blob_attr *attr);

std::string hex_string(const std::vector<uint8_t> &v);

// Adds the mixed table of the captured dump E (every value type, a nested array).
void add_dump_e(struct blob_buf *b);

// Takes ownership of a malloc'd C string; "(null)" for NULL.
std::string take_string(char *s);
