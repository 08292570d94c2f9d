// blob encoding, buffer management, parsing and validation.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <libubox/blob.h>
#include <libubox/blobmsg.h>

#include "c_inlines.h"
#include "helpers.h"

namespace {

struct BlobBuf : ::testing::Test {
	struct blob_buf b;
	void SetUp() override { memset(&b, 0, sizeof(b)); }
	void TearDown() override { blob_buf_free(&b); }
};

const char *const kDumpE =
	"0000: 00 00 00 9c 82 00 00 98 00 03 74 62 6c 00 00 00"
	"0010: 83 00 00 11 00 04 6e 61 6d 65 00 00 65 74 68 30"
	"0020: 00 00 00 00 87 00 00 0d 00 02 75 70 00 00 00 00"
	"0030: 01 00 00 00 86 00 00 0e 00 05 6d 74 75 31 36 00"
	"0040: 05 dc 00 00 85 00 00 10 00 02 72 78 00 00 00 00"
	"0050: ff ff ff ff 84 00 00 14 00 05 62 79 74 65 73 00"
	"0060: 00 00 01 00 00 00 00 00 88 00 00 14 00 04 72 61"
	"0070: 74 65 00 00 3f d0 00 00 00 00 00 00 80 00 00 0c"
	"0080: 00 04 6e 6f 6e 65 00 00 81 00 00 14 00 01 61 00"
	"0090: 83 00 00 0a 00 00 00 00 78 00 00 00";

} // namespace

TEST(BlobLayout, StructSizesAndOffsets)
{
	EXPECT_EQ(sizeof(struct blob_attr), 4u);
	EXPECT_EQ(sizeof(struct blob_buf), 32u);
	EXPECT_EQ(offsetof(struct blob_buf, grow), 8u);
	EXPECT_EQ(offsetof(struct blob_buf, buflen), 16u);
	EXPECT_EQ(offsetof(struct blob_buf, buf), 24u);
	EXPECT_EQ(sizeof(struct blob_attr_info), 24u);
	EXPECT_EQ(offsetof(struct blob_attr_info, validate), 16u);
	EXPECT_EQ(sizeof(struct blobmsg_hdr), 2u);
	EXPECT_EQ(sizeof(struct blobmsg_policy), 16u);
	EXPECT_EQ(BLOB_ATTR_EXTENDED, 0x80000000u);
	EXPECT_EQ(BLOB_ATTR_ID_MASK, 0x7f000000);
	EXPECT_EQ(BLOB_ATTR_LEN_MASK, 0x00ffffff);
	EXPECT_EQ(BLOB_COOKIE, 0x01234567);
	EXPECT_EQ(BLOB_ATTR_LAST, 9);
}

TEST_F(BlobBuf, InitFreshBuffer)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	EXPECT_EQ(hex_string(attr_bytes(b.head)), "00 00 00 04");
	EXPECT_EQ(b.buflen, 256);
	EXPECT_EQ(blob_len(b.head), 0u);
	EXPECT_EQ((void *) b.head, b.buf);
	EXPECT_NE(b.grow, nullptr);

	ASSERT_EQ(blob_buf_init(&b, 2), 0);
	EXPECT_EQ(hex_string(attr_bytes(b.head)), "02 00 00 04");

	// ids are masked to 7 bits and the root is never extended
	ASSERT_EQ(blob_buf_init(&b, 0x85), 0);
	EXPECT_EQ(hex_string(attr_bytes(b.head)), "05 00 00 04");
}

TEST_F(BlobBuf, DumpRawBlobAttributes)
{
	ASSERT_EQ(blob_buf_init(&b, 5), 0);
	ASSERT_TRUE(blob_put_u8(&b, 1, 0xab));
	ASSERT_TRUE(blob_put_u16(&b, 2, 0x1234));
	ASSERT_TRUE(blob_put_u32(&b, 3, 0x01020304));
	ASSERT_TRUE(blob_put_u64(&b, 4, 0x1122334455667788ULL));
	ASSERT_TRUE(blob_put_string(&b, 5, "hi"));
	ASSERT_TRUE(blob_put(&b, 6, NULL, 0));
	void *c = blob_nest_start(&b, 7);
	ASSERT_NE(c, nullptr);
	ASSERT_TRUE(blob_put_int32(&b, 8, 9));
	blob_nest_end(&b, c);

	EXPECT_EQ(attr_bytes(b.head), hex_bytes(
		"0000: 05 00 00 40 01 00 00 05 ab 00 00 00 02 00 00 06"
		"0010: 12 34 00 00 03 00 00 08 01 02 03 04 04 00 00 0c"
		"0020: 11 22 33 44 55 66 77 88 05 00 00 07 68 69 00 00"
		"0030: 06 00 00 04 07 00 00 0c 08 00 00 08 00 00 00 09"));

	// and read back through the getters
	struct blob_attr *tb[9];
	EXPECT_EQ(blob_parse(b.head, tb, NULL, 9), 7);
	EXPECT_EQ(blob_get_u8(tb[1]), 0xab);
	EXPECT_EQ(blob_get_u16(tb[2]), 0x1234);
	EXPECT_EQ(blob_get_u32(tb[3]), 0x01020304u);
	EXPECT_EQ(blob_get_u64(tb[4]), 0x1122334455667788ULL);
	EXPECT_EQ(blob_get_int8(tb[1]), (int8_t) 0xab);
	EXPECT_EQ(blob_get_int64(tb[4]), 0x1122334455667788LL);
	EXPECT_STREQ(blob_get_string(tb[5]), "hi");
	EXPECT_EQ(blob_len(tb[6]), 0u);
	EXPECT_FALSE(blob_is_extended(tb[7]));
	EXPECT_EQ(blob_id(tb[7]), 7u);
	EXPECT_EQ(blob_len(tb[7]), 8u);
}

TEST_F(BlobBuf, DumpA_Empty)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes("00 00 00 04"));
}

TEST_F(BlobBuf, DumpB_ErrorCode)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	ASSERT_EQ(blobmsg_add_u32(&b, "error_code", 0), 0);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes(
		"0000: 00 00 00 1c 85 00 00 18 00 0a 65 72 72 6f 72 5f"
		"0010: 63 6f 64 65 00 00 00 00 00 00 00 00"));
	struct blob_attr *rec = (struct blob_attr *) blob_data(b.head);
	EXPECT_EQ(blob_raw_len(rec), 24u);
	EXPECT_TRUE(blob_is_extended(rec));
	EXPECT_EQ(blobmsg_type(rec), BLOBMSG_TYPE_INT32);
	EXPECT_STREQ(blobmsg_name(rec), "error_code");
}

TEST_F(BlobBuf, DumpC_TwoStrings)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	ASSERT_EQ(blobmsg_add_string(&b, "interface1_tx", "12.34"), 0);
	EXPECT_EQ(hex_string(attr_bytes(b.head)).substr(0, 11), "00 00 00 20");
	EXPECT_EQ(blob_pad_len(b.head), 32u);
	ASSERT_EQ(blobmsg_add_string(&b, "interface1_rx", "5.6"), 0);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes(
		"0000: 00 00 00 38 83 00 00 1a 00 0d 69 6e 74 65 72 66"
		"0010: 61 63 65 31 5f 74 78 00 31 32 2e 33 34 00 00 00"
		"0020: 83 00 00 18 00 0d 69 6e 74 65 72 66 61 63 65 31"
		"0030: 5f 72 78 00 35 2e 36 00"));
}

TEST_F(BlobBuf, DumpD_ArrayOfInt32)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	void *c = blobmsg_open_array(&b, "list");
	ASSERT_NE(c, nullptr);
	for (uint32_t v = 10; v <= 50; v += 10)
		ASSERT_EQ(blobmsg_add_u32(&b, NULL, v), 0);
	blobmsg_close_array(&b, c);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes(
		"0000: 00 00 00 4c 81 00 00 48 00 04 6c 69 73 74 00 00"
		"0010: 85 00 00 0c 00 00 00 00 00 00 00 0a 85 00 00 0c"
		"0020: 00 00 00 00 00 00 00 14 85 00 00 0c 00 00 00 00"
		"0030: 00 00 00 1e 85 00 00 0c 00 00 00 00 00 00 00 28"
		"0040: 85 00 00 0c 00 00 00 00 00 00 00 32"));
}

TEST_F(BlobBuf, DumpD_EmptyArray)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	void *c = blobmsg_open_array(&b, "list");
	blobmsg_close_array(&b, c);
	EXPECT_EQ(attr_bytes((struct blob_attr *) blob_data(b.head)),
		  hex_bytes("81 00 00 0c 00 04 6c 69 73 74 00 00"));
	EXPECT_EQ(blob_raw_len(b.head), 16u);
}

TEST_F(BlobBuf, DumpE_MixedTable_CxxAndC)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	add_dump_e(&b);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes(kDumpE));
	EXPECT_EQ(b.buflen, 256);

	struct blob_buf cb;
	memset(&cb, 0, sizeof(cb));
	ASSERT_EQ(c_build_dump_e(&cb), 0);
	EXPECT_EQ(attr_bytes(cb.head), hex_bytes(kDumpE));
	EXPECT_EQ(c_count_children(b.head), 1);
	EXPECT_EQ(c_count_children((struct blob_attr *) blob_data(b.head)), 8);
	blob_buf_free(&cb);
}

TEST_F(BlobBuf, DumpF_ReinitKeepsStaleBytesAndSize)
{
	ASSERT_EQ(c_build_dump_e(&b), 0);
	void *old_buf = b.buf;
	int old_len = b.buflen;

	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes("00 00 00 04"));
	EXPECT_EQ(b.buf, old_buf);
	EXPECT_EQ(b.buflen, old_len);
	std::vector<uint8_t> stale((uint8_t *) b.buf + 4, (uint8_t *) b.buf + 14);
	EXPECT_EQ(stale, hex_bytes("82 00 00 98 00 03 74 62 6c 00"));
}

TEST_F(BlobBuf, FreeResetsButKeepsGrow)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	auto grow = b.grow;
	blob_buf_free(&b);
	EXPECT_EQ(b.buf, nullptr);
	EXPECT_EQ(b.head, nullptr);
	EXPECT_EQ(b.buflen, 0);
	EXPECT_EQ(b.grow, grow);
	blob_buf_free(&b); // harmless twice
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	EXPECT_EQ(b.buflen, 256);
	ASSERT_EQ(blobmsg_add_u32(&b, "x", 1), 0);
}

TEST_F(BlobBuf, GrowthIn256ByteStepsZeroedAndMoving)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	struct blob_attr *a = blob_put(&b, 1, NULL, 304); // raw 308
	ASSERT_NE(a, nullptr);
	EXPECT_EQ(b.buflen, 512);
	EXPECT_EQ(blob_raw_len(b.head), 312u);

	std::vector<uint8_t> big(1004, 0x5a);
	a = blob_put(&b, 2, big.data(), big.size()); // raw 1008
	ASSERT_NE(a, nullptr);
	EXPECT_EQ(b.buflen, 1536);
	EXPECT_EQ(blob_raw_len(b.head), 1320u);
	EXPECT_EQ((void *) b.head, b.buf);
	EXPECT_EQ(0, memcmp(blob_data(a), big.data(), big.size()));

	// everything past the content is zero
	const uint8_t *p = (const uint8_t *) b.buf;
	for (int i = 1320; i < b.buflen; i++)
		ASSERT_EQ(p[i], 0) << i;

	// an open nest survives a move of the buffer
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	void *c = blobmsg_open_table(&b, "t");
	for (int i = 0; i < 200; i++)
		ASSERT_EQ(blobmsg_add_u64(&b, "v", i), 0);
	blobmsg_close_table(&b, c);
	EXPECT_EQ((void *) b.head, b.buf);
	struct blob_attr *t = (struct blob_attr *) blob_data(b.head);
	EXPECT_EQ(blob_raw_len(t), 4u + 4u + 200u * 16u);
	EXPECT_EQ(blob_raw_len(b.head), 4u + blob_raw_len(t));
	EXPECT_EQ(b.buflen % 256, 0);
}

TEST_F(BlobBuf, CustomGrowIsKept)
{
	static int calls;
	calls = 0;
	b.grow = [](struct blob_buf *buf, int minlen) -> bool {
		calls++;
		void *n = realloc(buf->buf, buf->buflen + minlen);
		if (!n)
			return false;
		buf->buf = n;
		buf->buflen += minlen;
		return true;
	};
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	EXPECT_EQ(calls, 1);
	EXPECT_EQ(b.buflen, 4);
	ASSERT_EQ(blobmsg_add_u32(&b, "k", 7), 0);
	EXPECT_EQ(calls, 2);
}

TEST_F(BlobBuf, FailingGrowReportsEnomem)
{
	b.grow = [](struct blob_buf *, int) -> bool { return false; };
	EXPECT_EQ(blob_buf_init(&b, 0), -ENOMEM);
}

TEST_F(BlobBuf, TotalAbove16MiBIsRefused)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	EXPECT_EQ(blob_put(&b, 1, NULL, BLOB_ATTR_LEN_MASK), nullptr);
	EXPECT_EQ(blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, "x", NULL, 0x1000000), -1);
	EXPECT_EQ(blob_new(&b, 1, -5), nullptr);
	EXPECT_EQ(b.buflen, 256);
	EXPECT_EQ(blob_raw_len(b.head), 4u);

	// fill to 4 bytes under the limit: nothing more fits
	ASSERT_NE(blob_put(&b, 1, NULL, 0xfffff4), nullptr);
	EXPECT_EQ(blob_raw_len(b.head), 0xfffffcu);
	size_t before = blob_raw_len(b.head);
	int buflen = b.buflen;
	EXPECT_EQ(blob_put(&b, 1, NULL, 0), nullptr);
	EXPECT_EQ(blobmsg_add_u32(&b, "x", 1), -1);
	EXPECT_EQ(blobmsg_open_table(&b, "t"), nullptr);
	EXPECT_EQ(blob_nest_start(&b, 1), nullptr);
	EXPECT_EQ(blob_raw_len(b.head), before);
	EXPECT_EQ(b.buflen, buflen);
	EXPECT_EQ((void *) b.head, b.buf);
}

TEST_F(BlobBuf, PutRawAppendsUnpadded)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	const uint8_t raw5[] = { 0x01, 0x00, 0x00, 0x05, 0xee };
	struct blob_attr *a = blob_put_raw(&b, raw5, sizeof(raw5));
	ASSERT_NE(a, nullptr);
	EXPECT_EQ(blob_raw_len(b.head), 9u);
	EXPECT_EQ(0, memcmp(a, raw5, 5));
	EXPECT_EQ(blob_put_raw(&b, raw5, 3), nullptr);
	EXPECT_EQ(blob_put_raw(&b, NULL, 8), nullptr);
}

TEST_F(BlobBuf, NestCookiesAreOpaqueAndNonNull)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	void *c1 = blob_nest_start(&b, 1);
	void *c2 = blobmsg_open_table(&b, "inner");
	ASSERT_NE(c1, nullptr);
	ASSERT_NE(c2, nullptr);
	blobmsg_add_u8(&b, "x", 1);
	// table and array closers are interchangeable
	blobmsg_close_array(&b, c2);
	blob_nest_end(&b, c1);
	EXPECT_EQ((void *) b.head, b.buf);
	struct blob_attr *outer = (struct blob_attr *) blob_data(b.head);
	EXPECT_FALSE(blob_is_extended(outer));
	EXPECT_EQ(blob_raw_len(outer), 4u + (4u + 8u + 12u));
	EXPECT_EQ(blob_raw_len(b.head), 4u + blob_raw_len(outer));
}

TEST(BlobCheck, CheckTypeRules)
{
	const char s[] = "ab";
	EXPECT_TRUE(blob_check_type(s, 3, BLOB_ATTR_STRING));
	EXPECT_FALSE(blob_check_type(s, 2, BLOB_ATTR_STRING)); // no NUL
	EXPECT_FALSE(blob_check_type(s, 0, BLOB_ATTR_STRING));
	uint8_t eight[8] = { 0 };
	EXPECT_TRUE(blob_check_type(eight, 1, BLOB_ATTR_INT8));
	EXPECT_FALSE(blob_check_type(eight, 2, BLOB_ATTR_INT8));
	EXPECT_TRUE(blob_check_type(eight, 2, BLOB_ATTR_INT16));
	EXPECT_FALSE(blob_check_type(eight, 4, BLOB_ATTR_INT16));
	EXPECT_TRUE(blob_check_type(eight, 4, BLOB_ATTR_INT32));
	EXPECT_FALSE(blob_check_type(eight, 3, BLOB_ATTR_INT32));
	EXPECT_TRUE(blob_check_type(eight, 8, BLOB_ATTR_INT64));
	EXPECT_FALSE(blob_check_type(eight, 7, BLOB_ATTR_INT64));
	EXPECT_TRUE(blob_check_type(eight, 8, BLOB_ATTR_DOUBLE));
	EXPECT_FALSE(blob_check_type(eight, 7, BLOB_ATTR_DOUBLE));
	EXPECT_TRUE(blob_check_type(eight, 0, BLOB_ATTR_BINARY));
	EXPECT_TRUE(blob_check_type(eight, 0, BLOB_ATTR_NESTED));
	EXPECT_TRUE(blob_check_type(eight, 0, BLOB_ATTR_UNSPEC));
	EXPECT_FALSE(blob_check_type(eight, 8, 9));
	EXPECT_FALSE(blob_check_type(eight, 8, -1));
}

TEST_F(BlobBuf, ParseLastDuplicateWinsAndCountsDistinct)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	blob_put_u32(&b, 0, 1);
	blob_put_u32(&b, 0, 2);
	blob_put_u16(&b, 1, 0x4142); // two bytes, not a string
	blob_put_string(&b, 1, "yy");
	blob_put_u8(&b, 7, 1);       // id beyond max
	blob_put_u16(&b, 2, 3);      // INT8 expected, two bytes given

	const struct blob_attr_info info[3] = {
		{ BLOB_ATTR_INT32, 0, 0, NULL },
		{ BLOB_ATTR_STRING, 0, 0, NULL },
		{ BLOB_ATTR_INT8, 0, 0, NULL },
	};
	struct blob_attr *tb[3];
	EXPECT_EQ(blob_parse(b.head, tb, info, 3), 2);
	ASSERT_NE(tb[0], nullptr);
	EXPECT_EQ(blob_get_u32(tb[0]), 2u);
	ASSERT_NE(tb[1], nullptr);
	EXPECT_STREQ(blob_get_string(tb[1]), "yy");
	EXPECT_EQ(tb[2], nullptr);

	// without info everything below max is taken
	EXPECT_EQ(blob_parse(b.head, tb, NULL, 3), 3);
	EXPECT_EQ(blob_get_u16(tb[2]), 3);
}

TEST_F(BlobBuf, ParseMinMaxOnRawLengthAndValidate)
{
	ASSERT_EQ(blob_buf_init(&b, 0), 0);
	blob_put(&b, 0, "abcd", 4); // raw 8
	blob_put(&b, 1, "abcd", 4);
	blob_put(&b, 2, "abcd", 4);
	struct blob_attr_info info[3] = {
		{ BLOB_ATTR_LAST, 8, 8, NULL },  // exact raw length: accepted
		{ BLOB_ATTR_LAST, 9, 0, NULL },  // needs more than raw 8
		{ BLOB_ATTR_LAST, 0, 0,
		  [](const struct blob_attr_info *, struct blob_attr *) { return false; } },
	};
	struct blob_attr *tb[3];
	EXPECT_EQ(blob_parse(b.head, tb, info, 3), 1);
	EXPECT_NE(tb[0], nullptr);
	EXPECT_EQ(tb[1], nullptr);
	EXPECT_EQ(tb[2], nullptr);
	info[0].maxlen = 7;
	EXPECT_EQ(blob_parse(b.head, tb, info, 3), 0);
}

TEST(BlobHostile, ParseUntrustedRejectsLyingOuterLength)
{
	struct blob_attr *tb[4];
	for (auto &p : tb)
		p = (struct blob_attr *) 1;

	// outer claims 0x40 bytes, only 12 are there
	Exact e(hex_bytes("00 00 00 40 01 00 00 08 00 00 00 01"));
	EXPECT_EQ(blob_parse_untrusted(e.attr(), e.bytes.size(), tb, NULL, 4), 0);
	for (auto p : tb)
		EXPECT_EQ(p, nullptr);

	EXPECT_EQ(blob_parse_untrusted(NULL, 100, tb, NULL, 4), 0);
	EXPECT_EQ(blob_parse_untrusted(e.attr(), 3, tb, NULL, 4), 0);
}

TEST(BlobHostile, ParseUntrustedStopsAtLyingChild)
{
	struct blob_attr *tb[4];
	// child 1 valid, child 2 claims raw 0x20 inside a 16-byte container
	Exact e(hex_bytes("00 00 00 10 01 00 00 08 00 00 00 01 02 00 00 20"));
	EXPECT_EQ(blob_parse_untrusted(e.attr(), e.bytes.size(), tb, NULL, 4), 1);
	EXPECT_NE(tb[1], nullptr);
	EXPECT_EQ(tb[2], nullptr);

	// a child with raw length below the header size ends the walk
	Exact z(hex_bytes("00 00 00 10 03 00 00 00 00 00 00 00 01 00 00 04"));
	EXPECT_EQ(blob_parse_untrusted(z.attr(), z.bytes.size(), tb, NULL, 4), 0);

	// raw length 2 pads to 4 and is walked, but must not be read as a
	// payload of (size_t) -2 bytes
	const struct blob_attr_info info[4] = {
		{ BLOB_ATTR_STRING, 0, 0, NULL }, { BLOB_ATTR_STRING, 0, 0, NULL },
		{ BLOB_ATTR_STRING, 0, 0, NULL }, { BLOB_ATTR_STRING, 0, 0, NULL },
	};
	Exact s(hex_bytes("00 00 00 08 01 00 00 02"));
	EXPECT_EQ(blob_parse_untrusted(s.attr(), s.bytes.size(), tb, info, 4), 0);
	EXPECT_EQ(blob_parse(s.attr(), tb, info, 4), 0);
	EXPECT_EQ(tb[1], nullptr);

	// a well-formed buffer passes
	Exact ok(hex_bytes("00 00 00 10 01 00 00 08 00 00 00 01 02 00 00 04"));
	EXPECT_EQ(blob_parse_untrusted(ok.attr(), ok.bytes.size(), tb, NULL, 4), 2);
}

TEST(BlobHostile, ForEachNeverLeavesTheParent)
{
	// last child claims 0xffffff bytes
	Exact e(hex_bytes("00 00 00 14 01 00 00 05 aa 00 00 00 02 ff ff ff 00 00 00 00"));
	struct blob_attr *pos;
	size_t rem;
	int n = 0;
	blob_for_each_attr(pos, e.attr(), rem)
		n++;
	EXPECT_EQ(n, 1);

	struct blob_attr *nul = nullptr;
	n = 0;
	blob_for_each_attr(pos, nul, rem)
		n++;
	EXPECT_EQ(n, 0);
}

TEST(BlobCompare, AttrEqualIncludesPadding)
{
	EXPECT_TRUE(blob_attr_equal(NULL, NULL));
	Exact a(hex_bytes("01 00 00 05 aa 00 00 00"));
	Exact b(hex_bytes("01 00 00 05 aa 00 00 00"));
	Exact c(hex_bytes("01 00 00 05 aa 00 01 00")); // differs only in padding
	Exact d(hex_bytes("01 00 00 04"));
	EXPECT_FALSE(blob_attr_equal(a.attr(), NULL));
	EXPECT_FALSE(blob_attr_equal(NULL, a.attr()));
	EXPECT_TRUE(blob_attr_equal(a.attr(), b.attr()));
	EXPECT_FALSE(blob_attr_equal(a.attr(), c.attr()));
	EXPECT_FALSE(blob_attr_equal(a.attr(), d.attr()));

	struct blob_attr *dup = blob_memdup(a.attr());
	ASSERT_NE(dup, nullptr);
	EXPECT_TRUE(blob_attr_equal(a.attr(), dup));
	free(dup);
}

TEST(BlobHelpers, FillPadAndSetRawLen)
{
	uint8_t raw[8] = { 0x85, 0x00, 0x00, 0x05, 0x11, 0xff, 0xff, 0xff };
	struct blob_attr *a = (struct blob_attr *) raw;
	blob_fill_pad(a);
	EXPECT_EQ(std::vector<uint8_t>(raw, raw + 8), hex_bytes("85 00 00 05 11 00 00 00"));
	blob_set_raw_len(a, 8);
	EXPECT_EQ(blob_raw_len(a), 8u);
	EXPECT_EQ(blob_id(a), 5u);
	EXPECT_TRUE(blob_is_extended(a));
	blob_set_raw_len(a, 0x1000004); // only 24 bits are kept
	EXPECT_EQ(blob_raw_len(a), 4u);
	EXPECT_EQ(blob_id(a), 5u);
}
