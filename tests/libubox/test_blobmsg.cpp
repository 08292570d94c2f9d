// blobmsg: adding, reading, checking and parsing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include "c_inlines.h"
#include "helpers.h"

namespace {

struct Msg : ::testing::Test {
	struct blob_buf b;
	void SetUp() override
	{
		memset(&b, 0, sizeof(b));
		ASSERT_EQ(blob_buf_init(&b, 0), 0);
	}
	void TearDown() override { blob_buf_free(&b); }

	void *data() { return blob_data(b.head); }
	unsigned int len() { return blob_len(b.head); }
};

} // namespace

TEST(BlobmsgLayout, HeaderLengthsAndTypes)
{
	EXPECT_EQ(blobmsg_hdrlen(0), 4);
	EXPECT_EQ(blobmsg_hdrlen(1), 4);
	EXPECT_EQ(blobmsg_hdrlen(2), 8);
	EXPECT_EQ(blobmsg_hdrlen(5), 8);
	EXPECT_EQ(blobmsg_hdrlen(6), 12);
	EXPECT_EQ(blobmsg_hdrlen(9), 12);
	EXPECT_EQ(blobmsg_hdrlen(10), 16);
	EXPECT_EQ(blobmsg_hdrlen(13), 16);
	EXPECT_EQ(BLOBMSG_PADDING(5), 8);
	EXPECT_EQ(BLOBMSG_ALIGN, 2);
	EXPECT_EQ(BLOBMSG_TYPE_LAST, 8);
	EXPECT_EQ(__BLOBMSG_TYPE_LAST, 9);
	EXPECT_EQ(BLOBMSG_CAST_INT64, 9);
	EXPECT_EQ(BLOBMSG_TYPE_BOOL, BLOBMSG_TYPE_INT8);
	EXPECT_EQ(BLOBMSG_TYPE_INT64, 4);
	EXPECT_EQ(BLOBMSG_TYPE_DOUBLE, 8);
}

TEST_F(Msg, PrintfAndStringBufferDump)
{
	EXPECT_EQ(blobmsg_printf(&b, "p", "%d-%s", 42, "abc"), 6);
	char *sb = (char *) blobmsg_alloc_string_buffer(&b, "sb", 10);
	ASSERT_NE(sb, nullptr);
	strcpy(sb, "hey");
	blobmsg_add_string_buffer(&b);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes(
		"0000: 00 00 00 24 83 00 00 0f 00 01 70 00 34 32 2d 61"
		"0010: 62 63 00 00 83 00 00 10 00 02 73 62 00 00 00 00"
		"0020: 68 65 79 00"));
}

TEST_F(Msg, StringBufferReallocSurvivesGrowth)
{
	char *sb = (char *) blobmsg_alloc_string_buffer(&b, "s", 4);
	ASSERT_NE(sb, nullptr);
	sb = (char *) blobmsg_realloc_string_buffer(&b, 2000);
	ASSERT_NE(sb, nullptr);
	memset(sb, 'z', 1999);
	sb[1999] = 0;
	blobmsg_add_string_buffer(&b);
	struct blob_attr *tb[1];
	const struct blobmsg_policy pol[1] = { { "s", BLOBMSG_TYPE_STRING } };
	ASSERT_EQ(blobmsg_parse(pol, 1, tb, data(), len()), 0);
	ASSERT_NE(tb[0], nullptr);
	EXPECT_EQ(strlen(blobmsg_get_string(tb[0])), 1999u);
	EXPECT_EQ(blobmsg_data_len(tb[0]), 2000u);
}

TEST_F(Msg, ScalarsAndGetters)
{
	blobmsg_add_u8(&b, "bool5", 5);
	blobmsg_add_u16(&b, "u16", 0xfffe);
	blobmsg_add_u32(&b, "u32", 0x80000000u);
	blobmsg_add_u64(&b, "u64", 0xfffffffffffffffeULL);
	blobmsg_add_double(&b, "d", 1.5);
	blobmsg_add_u8(&b, "i8", 0x80);

	enum { B5, U16, U32, U64, D, I8, N };
	const struct blobmsg_policy pol[N] = {
		{ "bool5", BLOBMSG_TYPE_BOOL }, { "u16", BLOBMSG_TYPE_INT16 },
		{ "u32", BLOBMSG_TYPE_INT32 }, { "u64", BLOBMSG_TYPE_INT64 },
		{ "d", BLOBMSG_TYPE_DOUBLE }, { "i8", BLOBMSG_TYPE_INT8 },
	};
	struct blob_attr *tb[N];
	ASSERT_EQ(blobmsg_parse(pol, N, tb, data(), len()), 0);
	for (auto p : tb)
		ASSERT_NE(p, nullptr);

	EXPECT_EQ(blobmsg_get_u8(tb[B5]), 5); // stored verbatim
	EXPECT_TRUE(blobmsg_get_bool(tb[B5]));
	EXPECT_EQ(blobmsg_get_u16(tb[U16]), 0xfffe);
	EXPECT_EQ(blobmsg_get_u32(tb[U32]), 0x80000000u);
	EXPECT_EQ(blobmsg_get_u64(tb[U64]), 0xfffffffffffffffeULL);
	EXPECT_EQ(blobmsg_get_double(tb[D]), 1.5);
	EXPECT_EQ(std::vector<uint8_t>((uint8_t *) blobmsg_data(tb[D]), (uint8_t *) blobmsg_data(tb[D]) + 8),
		  hex_bytes("3f f8 00 00 00 00 00 00"));

	EXPECT_EQ(blobmsg_cast_s64(tb[U16]), -2);
	EXPECT_EQ(blobmsg_cast_s64(tb[U32]), INT32_MIN);
	EXPECT_EQ(blobmsg_cast_s64(tb[U64]), -2);
	EXPECT_EQ(blobmsg_cast_s64(tb[I8]), -128);
	EXPECT_EQ(blobmsg_cast_u64(tb[U16]), 0xfffeu);
	EXPECT_EQ(blobmsg_cast_u64(tb[I8]), 0x80u);
	EXPECT_EQ(blobmsg_cast_u64(tb[D]), 0u);
	EXPECT_EQ(blobmsg_cast_s64(tb[D]), 0);
}

TEST(BlobmsgRead, NullTolerantAccessors)
{
	EXPECT_EQ(blobmsg_data(NULL), nullptr);
	EXPECT_EQ(blobmsg_data_len(NULL), 0u);
	EXPECT_EQ(blobmsg_len(NULL), 0u);
	EXPECT_EQ(blobmsg_get_string(NULL), nullptr);
	struct blob_attr *cur, *nul = nullptr;
	size_t rem;
	int n = 0;
	blobmsg_for_each_attr(cur, nul, rem)
		n++;
	EXPECT_EQ(n, 0);
}

TEST_F(Msg, AddBlobCopiesByteForByte)
{
	blobmsg_add_string(&b, "name", "value");
	struct blob_attr *src = blob_memdup(b.head);
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	struct blob_attr *child = (struct blob_attr *) blob_data(src);
	ASSERT_EQ(blobmsg_add_blob(&b, child), 0);
	EXPECT_EQ(attr_bytes(b.head), attr_bytes(src));
	free(src);
}

TEST_F(Msg, ClearNameAndNonExtendedData)
{
	blobmsg_add_u32(&b, "abc", 7);
	struct blob_attr *a = (struct blob_attr *) data();
	blobmsg_clear_name(a);
	EXPECT_STREQ(blobmsg_name(a), "");
	EXPECT_EQ(blobmsg_get_u32(a), 7u);

	blob_buf_init(&b, 0);
	blob_put_u32(&b, 5, 9);
	a = (struct blob_attr *) data();
	EXPECT_EQ(blobmsg_data(a), blob_data(a));
	EXPECT_EQ(blobmsg_data_len(a), 4u);
}

// ---- blobmsg_parse ----

TEST_F(Msg, ParseEmptyOrNullGivesEinvalAndClearsSlots)
{
	const struct blobmsg_policy pol[2] = { { "a", BLOBMSG_TYPE_INT32 }, { "b", BLOBMSG_TYPE_STRING } };
	struct blob_attr *tb[2] = { (struct blob_attr *) 1, (struct blob_attr *) 1 };
	EXPECT_EQ(blobmsg_parse(pol, 2, tb, data(), len()), -EINVAL);
	EXPECT_EQ(tb[0], nullptr);
	EXPECT_EQ(tb[1], nullptr);
	tb[0] = (struct blob_attr *) 1;
	EXPECT_EQ(blobmsg_parse(pol, 2, tb, NULL, 16), -EINVAL);
	EXPECT_EQ(tb[0], nullptr);
	// attribute-form on a NULL container
	EXPECT_EQ(blobmsg_parse_attr(pol, 2, tb, NULL), -EINVAL);
	// fewer than 4 bytes: nothing to walk
	uint8_t three[3] = { 0 };
	EXPECT_EQ(blobmsg_parse(pol, 2, tb, three, 3), 0);
}

TEST_F(Msg, ParseSemantics)
{
	blobmsg_add_string(&b, "b", "notint");  // wrong type for b
	blobmsg_add_u32(&b, "a", 1);
	blobmsg_add_u32(&b, "a", 2);           // duplicate: first wins
	blobmsg_add_u32(&b, "b", 7);           // later, correctly typed b
	blobmsg_add_u32(&b, "unknown", 3);
	blobmsg_add_u16(&b, "wide", 0xffff);
	blobmsg_add_string(&b, NULL, "anon");
	blob_put_u32(&b, BLOBMSG_TYPE_INT32, 99); // non-extended: skipped
	blobmsg_add_u8(&b, "any", 1);

	enum { A, B, WIDE, ANON, ANY, ANY2, NONAME, N };
	// in enum order (C++ has no array designators)
	const struct blobmsg_policy pol[N] = {
		{ "a", BLOBMSG_TYPE_INT32 },
		{ "b", BLOBMSG_TYPE_INT32 },
		{ "wide", BLOBMSG_CAST_INT64 },
		{ "", BLOBMSG_TYPE_STRING },
		{ "any", BLOBMSG_TYPE_UNSPEC },
		{ "any", BLOBMSG_TYPE_BOOL },
		{ NULL, BLOBMSG_TYPE_UNSPEC },
	};
	struct blob_attr *tb[N];
	ASSERT_EQ(blobmsg_parse(pol, N, tb, data(), len()), 0);
	ASSERT_NE(tb[A], nullptr);
	EXPECT_EQ(blobmsg_get_u32(tb[A]), 1u);
	ASSERT_NE(tb[B], nullptr);
	EXPECT_EQ(blobmsg_get_u32(tb[B]), 7u);
	ASSERT_NE(tb[WIDE], nullptr);
	EXPECT_EQ(blobmsg_cast_s64(tb[WIDE]), -1);
	ASSERT_NE(tb[ANON], nullptr);
	EXPECT_STREQ(blobmsg_get_string(tb[ANON]), "anon");
	// one attribute can fill several entries
	EXPECT_NE(tb[ANY], nullptr);
	EXPECT_EQ(tb[ANY], tb[ANY2]);
	EXPECT_EQ(tb[NONAME], nullptr);

	// a wrongly typed attribute alone leaves the slot empty
	const struct blobmsg_policy only_str[1] = { { "a", BLOBMSG_TYPE_STRING } };
	struct blob_attr *one[1];
	ASSERT_EQ(blobmsg_parse(only_str, 1, one, data(), len()), 0);
	EXPECT_EQ(one[0], nullptr);

	// CAST_INT64 does not take a string
	const struct blobmsg_policy cast_b[1] = { { "b", BLOBMSG_CAST_INT64 } };
	ASSERT_EQ(blobmsg_parse(cast_b, 1, one, data(), len()), 0);
	ASSERT_NE(one[0], nullptr);
	EXPECT_EQ(blobmsg_type(one[0]), BLOBMSG_TYPE_INT32);
}

TEST_F(Msg, ParseMalformedReturnsMinusOneKeepingEarlierSlots)
{
	blobmsg_add_u32(&b, "a", 1);
	blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "bad", "xyz", 3); // INT32 of 3 bytes
	blobmsg_add_u32(&b, "c", 3);
	const struct blobmsg_policy pol[2] = { { "a", BLOBMSG_TYPE_INT32 }, { "c", BLOBMSG_TYPE_INT32 } };
	struct blob_attr *tb[2];
	EXPECT_EQ(blobmsg_parse(pol, 2, tb, data(), len()), -1);
	EXPECT_NE(tb[0], nullptr);
	EXPECT_EQ(tb[1], nullptr);
}

TEST(BlobmsgHostile, ParseRejectsEveryMalformedShape)
{
	const struct blobmsg_policy pol[1] = { { "a", BLOBMSG_TYPE_UNSPEC } };
	struct blob_attr *tb[1];
	const char *cases[] = {
		"85 00 00 0a 00 01 61 00 00 00 00 00",             // INT32 with 2 bytes
		"83 00 00 0c 00 01 61 00 78 79 7a 7a",             // STRING without NUL
		"83 00 00 08 00 01 61 00",                         // STRING, empty value
		"88 00 00 0c 00 01 61 00 00 00 00 00",             // DOUBLE < 8
		"89 00 00 08 00 01 61 00",                         // type 9
		"80 00 00 05 00 00 00 00",                         // extended, 1-byte payload
		"80 00 00 08 00 09 61 00",                         // namelen beyond payload
		"80 00 00 08 00 01 61 62",                         // name without NUL
		"87 00 00 0a 00 01 61 00 01 02 00 00",             // INT8 with 2 bytes
		"84 00 00 0c 00 01 61 00 00 00 00 00",             // INT64 with 4 bytes
	};
	for (const char *c : cases) {
		Exact e(hex_bytes(c));
		tb[0] = (struct blob_attr *) 1;
		EXPECT_EQ(blobmsg_parse(pol, 1, tb, e.bytes.data(), e.bytes.size()), -1) << c;
		EXPECT_EQ(tb[0], nullptr) << c;
		EXPECT_FALSE(blobmsg_check_attr(e.attr(), false)) << c;
		EXPECT_FALSE(blobmsg_check_attr_len(e.attr(), false, e.bytes.size())) << c;
	}
}

TEST(BlobmsgHostile, ParseMatchesWholeNamesOnly)
{
	// "a\0b" = 5 (a NUL inside the name), then "ab" = 6
	Exact e(hex_bytes("87 00 00 0d 00 03 61 00 62 00 00 00 05 00 00 00 "
			  "87 00 00 0d 00 02 61 62 00 00 00 00 06 00 00 00"));
	const struct blobmsg_policy pol[3] = {
		{ "a", BLOBMSG_TYPE_INT8 }, { "ab", BLOBMSG_TYPE_INT8 }, { "abc", BLOBMSG_TYPE_INT8 },
	};
	struct blob_attr *tb[3];

	ASSERT_EQ(blobmsg_parse(pol, 3, tb, e.bytes.data(), e.bytes.size()), 0);
	EXPECT_EQ(tb[0], nullptr);
	ASSERT_NE(tb[1], nullptr);
	EXPECT_EQ(blobmsg_get_u8(tb[1]), 6);
	EXPECT_EQ(tb[2], nullptr);
}

TEST(BlobmsgHostile, LengthsBeyondTheBufferAreNeverFollowed)
{
	const struct blobmsg_policy pol[1] = { { "a", BLOBMSG_TYPE_UNSPEC } };
	struct blob_attr *tb[1];

	// valid "a", then an attribute claiming 0x7fff bytes
	Exact e(hex_bytes("80 00 00 08 00 01 61 00 83 00 7f ff 00 01 62 00"));
	EXPECT_EQ(blobmsg_parse(pol, 1, tb, e.bytes.data(), e.bytes.size()), 0);
	EXPECT_NE(tb[0], nullptr);
	// the bounded check rejects the second
	EXPECT_FALSE(blobmsg_check_attr_len((struct blob_attr *) (e.bytes.data() + 8), false, 8));

	// raw length smaller than a header
	Exact z(hex_bytes("80 00 00 02 00 01 61 00"));
	EXPECT_EQ(blobmsg_parse(pol, 1, tb, z.bytes.data(), z.bytes.size()), -1);
	EXPECT_EQ(tb[0], nullptr);

	// the raw length fits but the declared length overruns the stated bound
	Exact o(hex_bytes("83 00 00 0c 00 01 61 00 78 00 00 00"));
	EXPECT_FALSE(blobmsg_check_attr_len(o.attr(), false, 8));
	EXPECT_TRUE(blobmsg_check_attr_len(o.attr(), false, 12));
}

TEST(BlobmsgCheck, MeasuredCheckAttrTable)
{
	struct Row {
		const char *hex;
		bool unnamed_ok;
		bool named_ok;
	} rows[] = {
		{ "80 00 00 08 00 00 00 00", true, false },             // extended, empty name
		{ "85 00 00 0c 00 01 61 00 00 00 00 01", true, true }, // named INT32
		{ "05 00 00 08 00 00 00 01", true, false },             // non-extended INT32
		{ "85 00 00 0a 00 01 61 00 00 01 00 00", false, false }, // INT32 with 2 bytes
		{ "89 00 00 08 00 01 61 00", false, false },             // type 9
	};
	for (auto &r : rows) {
		Exact e(hex_bytes(r.hex));
		EXPECT_EQ(blobmsg_check_attr(e.attr(), false), r.unnamed_ok) << r.hex;
		EXPECT_EQ(blobmsg_check_attr(e.attr(), true), r.named_ok) << r.hex;
	}
}

TEST_F(Msg, CheckArrayCountsAndTypes)
{
	void *c = blobmsg_open_array(&b, "arr");
	blobmsg_add_u32(&b, NULL, 1);
	blobmsg_add_u32(&b, NULL, 2);
	blobmsg_add_u32(&b, NULL, 3);
	blobmsg_close_array(&b, c);
	c = blobmsg_open_table(&b, "tbl");
	blobmsg_add_u32(&b, "x", 1);
	blobmsg_add_string(&b, "y", "s");
	blobmsg_close_table(&b, c);
	c = blobmsg_open_table(&b, "anon");
	blobmsg_add_u32(&b, NULL, 1);
	blobmsg_close_table(&b, c);
	blobmsg_add_u32(&b, "scalar", 1);

	const struct blobmsg_policy pol[4] = {
		{ "arr", BLOBMSG_TYPE_ARRAY }, { "tbl", BLOBMSG_TYPE_TABLE },
		{ "anon", BLOBMSG_TYPE_TABLE }, { "scalar", BLOBMSG_TYPE_INT32 },
	};
	struct blob_attr *tb[4];
	ASSERT_EQ(blobmsg_parse(pol, 4, tb, data(), len()), 0);

	EXPECT_EQ(blobmsg_check_array(tb[0], BLOBMSG_TYPE_INT32), 3);
	EXPECT_EQ(blobmsg_check_array(tb[0], BLOBMSG_TYPE_UNSPEC), 3);
	EXPECT_EQ(blobmsg_check_array(tb[0], BLOBMSG_TYPE_STRING), -1);
	EXPECT_EQ(blobmsg_check_array(tb[1], BLOBMSG_TYPE_UNSPEC), 2);
	EXPECT_EQ(blobmsg_check_array(tb[1], BLOBMSG_TYPE_INT32), -1);
	EXPECT_EQ(blobmsg_check_array(tb[2], BLOBMSG_TYPE_UNSPEC), -1); // table needs names
	EXPECT_EQ(blobmsg_check_array(tb[3], BLOBMSG_TYPE_UNSPEC), -1); // not a container
	EXPECT_TRUE(blobmsg_check_attr_list(tb[0], BLOBMSG_TYPE_INT32));
	EXPECT_FALSE(blobmsg_check_attr_list(tb[0], BLOBMSG_TYPE_STRING));
	EXPECT_EQ(blobmsg_check_array_len(tb[0], BLOBMSG_TYPE_INT32, blob_raw_len(tb[0]) - 1), -1);
}

TEST(BlobmsgHostile, CheckArrayRejectsChildOverrunningContainer)
{
	// array "a" holding one INT32 element whose length runs 4 bytes past the array
	Exact e(hex_bytes("81 00 00 14 00 01 61 00 85 00 00 10 00 00 00 00 00 00 00 01 00 00 00 00"));
	EXPECT_EQ(blobmsg_check_array_len(e.attr(), BLOBMSG_TYPE_UNSPEC, e.bytes.size()), -1);
	EXPECT_FALSE(blobmsg_check_attr_list_len(e.attr(), BLOBMSG_TYPE_INT32, e.bytes.size()));
}

TEST(BlobmsgParseArray, AssignsByPositionSkippingMismatches)
{
	struct blob_buf b;
	memset(&b, 0, sizeof(b));
	blob_buf_init(&b, 0);
	ASSERT_TRUE(blobmsg_add_json_from_string(&b, "{\"arr\":[1,\"s1\",\"s2\",2,true,3]}"));
	struct blob_attr *arr = (struct blob_attr *) blob_data(b.head);
	ASSERT_EQ(blobmsg_type(arr), BLOBMSG_TYPE_ARRAY);

	const struct blobmsg_policy pol[3] = {
		{ NULL, BLOBMSG_TYPE_STRING }, { NULL, BLOBMSG_TYPE_INT32 }, { NULL, BLOBMSG_TYPE_UNSPEC },
	};
	struct blob_attr *tb[3];
	ASSERT_EQ(blobmsg_parse_array_attr(pol, 3, tb, arr), 0);
	ASSERT_NE(tb[0], nullptr);
	ASSERT_NE(tb[1], nullptr);
	ASSERT_NE(tb[2], nullptr);
	EXPECT_STREQ(blobmsg_get_string(tb[0]), "s1");
	EXPECT_EQ(blobmsg_get_u32(tb[1]), 2u);
	EXPECT_EQ(blobmsg_type(tb[2]), BLOBMSG_TYPE_BOOL);
	EXPECT_TRUE(blobmsg_get_bool(tb[2]));

	EXPECT_EQ(blobmsg_parse_array(pol, 3, tb, NULL, 0), 0);
	EXPECT_EQ(tb[0], nullptr);

	// a matching but malformed element fails the whole parse
	Exact bad(hex_bytes("83 00 00 0a 00 00 00 00 78 79 00 00"));
	EXPECT_EQ(blobmsg_parse_array(pol, 3, tb, bad.bytes.data(), bad.bytes.size()), -1);
	blob_buf_free(&b);
}

TEST_F(Msg, OverlongNameIsRefused)
{
	std::string name(70000, 'n');
	EXPECT_EQ(blobmsg_add_u32(&b, name.c_str(), 1), -1);
	EXPECT_EQ(blobmsg_open_table(&b, name.c_str()), nullptr);
	EXPECT_EQ(blob_raw_len(b.head), 4u);
}

namespace {

// Everything a consumer does with a received message, in the order a careful
// one does it: bound the root, parse, descend into containers, print.
void consume(struct blob_attr *root, size_t size)
{
	if (!blobmsg_check_attr_len(root, false, size))
		return;
	const struct blobmsg_policy pol[2] = { { "tbl", BLOBMSG_TYPE_TABLE }, { "a", BLOBMSG_TYPE_ARRAY } };
	struct blob_attr *tb[2], *inner[2], *cur;
	size_t rem;
	blobmsg_parse(pol, 2, tb, blob_data(root), blob_len(root));
	if (tb[0]) {
		blobmsg_check_array(tb[0], BLOBMSG_TYPE_UNSPEC);
		blobmsg_parse_attr(pol, 2, inner, tb[0]);
		if (inner[1])
			blobmsg_check_array(inner[1], BLOBMSG_TYPE_STRING);
		blobmsg_for_each_attr(cur, tb[0], rem)
			blobmsg_check_attr(cur, true);
	}
	free(blobmsg_format_json(root, true));
	free(blobmsg_format_json_indent(root, true, 0));
}

} // namespace

TEST(BlobmsgHostile, CorruptedAndTruncatedDumpNeverReadsPastTheBuffer)
{
	struct blob_buf b;
	memset(&b, 0, sizeof(b));
	ASSERT_EQ(c_build_dump_e(&b), 0);
	const std::vector<uint8_t> good = attr_bytes(b.head);
	blob_buf_free(&b);

	// every truncation: the root's length now lies, and the bounded check says so
	for (size_t n = 0; n < good.size(); n++) {
		Exact e(std::vector<uint8_t>(good.begin(), good.begin() + n));
		struct blob_attr *tb[8];
		if (n >= 4) {
			EXPECT_FALSE(blobmsg_check_attr_len(e.attr(), false, n)) << n;
			EXPECT_EQ(blob_parse_untrusted(e.attr(), n, tb, NULL, 8), 0) << n;
		}
		consume(e.attr(), n);
	}

	// every byte replaced by values that break lengths, ids and name headers
	const uint8_t values[] = { 0x00, 0x01, 0x02, 0x03, 0x04, 0x7f, 0x80, 0xff };
	for (size_t i = 0; i < good.size(); i++) {
		for (uint8_t v : values) {
			Exact e(good);
			e.bytes[i] = v;
			if (blob_raw_len(e.attr()) > good.size()) {
				EXPECT_FALSE(blobmsg_check_attr_len(e.attr(), false, good.size())) << i;
			}
			consume(e.attr(), good.size());
		}
	}
}
