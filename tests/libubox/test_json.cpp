// blobmsg_json: JSON text output and JSON input through json-c.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include <json-c/json.h>
#include <libubox/blobmsg_json.h>

#include "helpers.h"

namespace {

struct Json : ::testing::Test {
	struct blob_buf b;
	void SetUp() override
	{
		memset(&b, 0, sizeof(b));
		ASSERT_EQ(blob_buf_init(&b, 0), 0);
	}
	void TearDown() override { blob_buf_free(&b); }

	std::string compact() { return take_string(blobmsg_format_json(b.head, true)); }
	std::string indent(int n) { return take_string(blobmsg_format_json_indent(b.head, true, n)); }
	struct blob_attr *first() { return (struct blob_attr *) blob_data(b.head); }

	// JSON text -> blobmsg -> compact JSON text
	std::string round(const char *json)
	{
		blob_buf_init(&b, 0);
		if (!blobmsg_add_json_from_string(&b, json))
			return "(rejected)";
		return compact();
	}
};

void build_ubus_reply(struct blob_buf *b)
{
	blobmsg_add_string(b, "s", "a\"b\\c\n\x01 \xc3\xa9");
	blobmsg_add_u8(b, "b", 1);
	blobmsg_add_u32(b, "i", (uint32_t) -5);
	blobmsg_add_u64(b, "l", 1ULL << 40);
	blobmsg_add_double(b, "d", 12.34);
	void *arr = blobmsg_open_array(b, "arr");
	blobmsg_add_u32(b, NULL, 1);
	void *t = blobmsg_open_table(b, NULL);
	blobmsg_add_string(b, "k", "v");
	blobmsg_close_table(b, t);
	blobmsg_close_array(b, arr);
	void *e = blobmsg_open_table(b, "empty");
	blobmsg_close_table(b, e);
}

} // namespace

// ---- captured outputs ----

TEST_F(Json, EmptyRoot)
{
	EXPECT_EQ(compact(), "{}");
	EXPECT_EQ(indent(0), "{\n\t\n}");
}

TEST_F(Json, DumpB)
{
	blobmsg_add_u32(&b, "error_code", 0);
	EXPECT_EQ(compact(), "{\"error_code\":0}");
	EXPECT_EQ(indent(0), "{\n\t\"error_code\": 0\n}");
}

TEST_F(Json, DumpC)
{
	blobmsg_add_string(&b, "interface1_tx", "12.34");
	blobmsg_add_string(&b, "interface1_rx", "5.6");
	EXPECT_EQ(indent(0), "{\n\t\"interface1_tx\": \"12.34\",\n\t\"interface1_rx\": \"5.6\"\n}");
}

TEST_F(Json, DumpD)
{
	void *c = blobmsg_open_array(&b, "list");
	for (uint32_t v = 10; v <= 50; v += 10)
		blobmsg_add_u32(&b, NULL, v);
	blobmsg_close_array(&b, c);
	EXPECT_EQ(indent(0), "{\n\t\"list\": [\n\t\t10,\n\t\t20,\n\t\t30,\n\t\t40,\n\t\t50\n\t]\n}");
}

TEST_F(Json, DumpE)
{
	add_dump_e(&b);
	EXPECT_EQ(compact(), "{\"tbl\":{\"name\":\"eth0\",\"up\":true,\"mtu16\":1500,\"rx\":-1,"
			     "\"bytes\":1099511627776,\"rate\":0.250000,\"none\":null,\"a\":[\"x\"]}}");
}

TEST_F(Json, EmptyContainersIndented)
{
	void *t = blobmsg_open_table(&b, "emptytab");
	blobmsg_close_table(&b, t);
	void *a = blobmsg_open_array(&b, "arr");
	void *ea = blobmsg_open_array(&b, NULL);
	blobmsg_close_array(&b, ea);
	blobmsg_close_array(&b, a);
	EXPECT_EQ(indent(0), "{\n\t\"emptytab\": {\n\t\t\n\t},\n\t\"arr\": [\n\t\t[\n\t\t\t\n\t\t]\n\t]\n}");
}

TEST_F(Json, IndentShiftsEveryLineAfterTheFirst)
{
	blobmsg_add_string(&b, "str", "x");
	EXPECT_EQ(indent(2), "{\n\t\t\t\"str\": \"x\"\n\t\t}");
}

TEST_F(Json, TabsAreCappedAt16)
{
	blobmsg_add_u8(&b, "x", 0);
	std::string out = indent(20);
	EXPECT_EQ(out, "{\n" + std::string(16, '\t') + "\"x\": false\n" + std::string(16, '\t') + "}");
}

TEST_F(Json, UbusCallReplyPrettyAndCompact)
{
	build_ubus_reply(&b);
	EXPECT_EQ(indent(0),
		  "{\n"
		  "\t\"s\": \"a\\\"b\\\\c\\n\\u0001 \xc3\xa9\",\n"
		  "\t\"b\": true,\n"
		  "\t\"i\": -5,\n"
		  "\t\"l\": 1099511627776,\n"
		  "\t\"d\": 12.340000,\n"
		  "\t\"arr\": [\n"
		  "\t\t1,\n"
		  "\t\t{\n"
		  "\t\t\t\"k\": \"v\"\n"
		  "\t\t}\n"
		  "\t],\n"
		  "\t\"empty\": {\n"
		  "\t\t\n"
		  "\t}\n"
		  "}");
	EXPECT_EQ(compact(),
		  "{\"s\":\"a\\\"b\\\\c\\n\\u0001 \xc3\xa9\",\"b\":true,\"i\":-5,\"l\":1099511627776,"
		  "\"d\":12.340000,\"arr\":[1,{\"k\":\"v\"}],\"empty\":{}}");
}

TEST_F(Json, CallbackReplacesValuesButKeepsNames)
{
	void *t = blobmsg_open_table(&b, "mixed");
	blobmsg_add_u32(&b, "x", 5);
	blobmsg_close_table(&b, t);
	auto cb = [](void *priv, struct blob_attr *attr) -> const char * {
		++*(int *) priv;
		return blobmsg_type(attr) == BLOBMSG_TYPE_INT32 ? "\"Integer\"" : NULL;
	};
	int calls = 0;
	EXPECT_EQ(take_string(blobmsg_format_json_with_cb(first(), false, cb, &calls, -1)),
		  "\"mixed\":{\"x\":\"Integer\"}");
	EXPECT_EQ(calls, 2);
}

// ---- values ----

TEST_F(Json, EscapeTable)
{
	std::string in;
	for (int c = 1; c < 0x20; c++)
		in += (char) c;
	in += "\"\\/\x7f\xff\xc3\xa9";
	blobmsg_add_string(&b, "k\"\n", in.c_str());
	std::string expect = "{\"k\\\"\\n\":\"";
	for (int c = 1; c < 0x20; c++) {
		char tmp[8];
		switch (c) {
		case 0x08: expect += "\\b"; break;
		case 0x09: expect += "\\t"; break;
		case 0x0a: expect += "\\n"; break;
		case 0x0d: expect += "\\r"; break;
		default:
			snprintf(tmp, sizeof(tmp), "\\u%04x", c);
			expect += tmp;
		}
	}
	expect += "\\\"\\\\/\x7f\xff\xc3\xa9\"}";
	EXPECT_EQ(compact(), expect);
	EXPECT_NE(expect.find("\\u000c"), std::string::npos);
	EXPECT_NE(expect.find("\\u001f"), std::string::npos);
}

TEST_F(Json, LongRunsAndNumbersAcrossBufferGrowth)
{
	// runs of plain bytes far longer than the first allocation, escapes
	// and numbers landing on every offset of the growing buffer
	std::string in, expect = "{";
	for (int i = 0; i < 40; i++) {
		std::string run(37 * i, (char) ('a' + i % 26));
		std::string key = "k" + std::to_string(i);
		blobmsg_add_string(&b, key.c_str(), (run + "\"\x01").c_str());
		blobmsg_add_u64(&b, NULL, (uint64_t) -1 - i);
		blobmsg_add_double(&b, NULL, 1e22 + i);
		expect += (i ? ",\"" : "\"") + key + "\":\"" + run + "\\\"\\u0001\",-" +
			  std::to_string(i + 1) + ",10000000000000000000000.000000";
	}
	EXPECT_EQ(compact(), expect + "}");
}

TEST_F(Json, StringStopsAtFirstNul)
{
	blobmsg_add_field(&b, BLOBMSG_TYPE_STRING, "s", "ab\0cd", 6);
	EXPECT_EQ(compact(), "{\"s\":\"ab\"}");
}

TEST_F(Json, IntegersAreSigned)
{
	blobmsg_add_u16(&b, "a", 0xffff);
	blobmsg_add_u32(&b, "b", 0xfffffffe);
	blobmsg_add_u32(&b, "c", 0x80000000);
	blobmsg_add_u64(&b, "d", ~0ULL);
	blobmsg_add_u64(&b, "e", 0x8000000000000000ULL);
	blobmsg_add_u8(&b, "f", 0);
	blobmsg_add_u8(&b, "g", 5);
	EXPECT_EQ(compact(), "{\"a\":-1,\"b\":-2,\"c\":-2147483648,\"d\":-1,"
			     "\"e\":-9223372036854775808,\"f\":false,\"g\":true}");
}

TEST_F(Json, DoublesUsePercentLf)
{
	blobmsg_add_double(&b, "a", 12.34);
	blobmsg_add_double(&b, "b", 3.0);
	blobmsg_add_double(&b, "c", 1e20);
	blobmsg_add_double(&b, "d", -4e-7);
	blobmsg_add_double(&b, "e", NAN);
	blobmsg_add_double(&b, "f", INFINITY);
	EXPECT_EQ(compact(), "{\"a\":12.340000,\"b\":3.000000,\"c\":100000000000000000000.000000,"
			     "\"d\":-0.000000,\"e\":nan,\"f\":inf}");

	blob_buf_init(&b, 0);
	blobmsg_add_double(&b, "big", 1e300);
	std::string out = compact();
	// {"big": + 301 digits + .000000}
	EXPECT_EQ(out.size(), strlen("{\"big\":") + 301 + strlen(".000000}"));
	EXPECT_EQ(out.substr(0, 8), "{\"big\":1");
}

TEST_F(Json, EmptyNamesOmittedAndArrayNamesDropped)
{
	blobmsg_add_string(&b, "a", "1");
	blobmsg_add_string(&b, NULL, "unnamed_in_table");
	void *arr = blobmsg_open_array(&b, "arr");
	blobmsg_add_string(&b, "ignored_name", "two");
	blobmsg_close_array(&b, arr);
	EXPECT_EQ(compact(), "{\"a\":\"1\",\"unnamed_in_table\",\"arr\":[\"two\"]}");
}

TEST_F(Json, InvalidChildrenLeaveTheirComma)
{
	blobmsg_add_u32(&b, "a", 1);
	blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "b", "xyz", 3);
	blobmsg_add_u32(&b, "c", 3);
	EXPECT_EQ(compact(), "{\"a\":1,,\"c\":3}");

	blob_buf_init(&b, 0);
	blobmsg_add_field(&b, 12, "x", "abcd", 4);
	blobmsg_add_u32(&b, "c", 3);
	EXPECT_EQ(compact(), "{,\"c\":3}");
}

TEST_F(Json, ElementAndValueModes)
{
	void *arr = blobmsg_open_array(&b, "arr");
	blobmsg_add_u32(&b, NULL, 1);
	blobmsg_add_string(&b, NULL, "two");
	blobmsg_close_array(&b, arr);
	EXPECT_EQ(take_string(blobmsg_format_json(first(), false)), "\"arr\":[1,\"two\"]");
	EXPECT_EQ(take_string(blobmsg_format_json_value(first())), "[1,\"two\"]");
	EXPECT_EQ(take_string(blobmsg_format_json_value_indent(first(), 0)), "[\n\t1,\n\t\"two\"\n]");
	// an array root prints as a list in brackets
	EXPECT_EQ(take_string(blobmsg_format_json(first(), true)), "[1,\"two\"]");

	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "q", "q\"b");
	EXPECT_EQ(take_string(blobmsg_format_json_value(first())), "\"q\\\"b\"");

	// an empty id-0 root printed as an element
	blob_buf_init(&b, 0);
	EXPECT_EQ(take_string(blobmsg_format_json(b.head, false)), "null");
}

TEST_F(Json, InvalidSingleElement)
{
	blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "b", "xyz", 3);
	EXPECT_EQ(take_string(blobmsg_format_json(first(), false)), "");
	EXPECT_EQ(take_string(blobmsg_format_json_value(first())), "");

	uint8_t empty_ext[4] = { 0x80, 0x00, 0x00, 0x04 }; // extended, no room for a name
	EXPECT_EQ(blobmsg_format_json((struct blob_attr *) empty_ext, false), nullptr);
	EXPECT_EQ(blobmsg_format_json(NULL, true), nullptr);
}

// ---- JSON to blobmsg ----

TEST_F(Json, IntegerWidthsFromJson)
{
	ASSERT_TRUE(blobmsg_add_json_from_string(&b,
		"{\"min\":-2147483648,\"max\":2147483647,\"over\":2147483648,"
		"\"under\":-2147483649,\"huge\":18446744073709551615}"));
	enum { MIN, MAX, OVER, UNDER, HUGE_, N };
	const struct blobmsg_policy pol[N] = {
		{ "min", BLOBMSG_TYPE_UNSPEC }, { "max", BLOBMSG_TYPE_UNSPEC },
		{ "over", BLOBMSG_TYPE_UNSPEC }, { "under", BLOBMSG_TYPE_UNSPEC },
		{ "huge", BLOBMSG_TYPE_UNSPEC },
	};
	struct blob_attr *tb[N];
	ASSERT_EQ(blobmsg_parse(pol, N, tb, blob_data(b.head), blob_len(b.head)), 0);
	EXPECT_EQ(blobmsg_type(tb[MIN]), BLOBMSG_TYPE_INT32);
	EXPECT_EQ(std::vector<uint8_t>((uint8_t *) blobmsg_data(tb[MIN]), (uint8_t *) blobmsg_data(tb[MIN]) + 4),
		  hex_bytes("80 00 00 00"));
	EXPECT_EQ(blobmsg_type(tb[MAX]), BLOBMSG_TYPE_INT32);
	EXPECT_EQ(blobmsg_type(tb[OVER]), BLOBMSG_TYPE_INT64);
	EXPECT_EQ(blobmsg_type(tb[UNDER]), BLOBMSG_TYPE_INT64);
	EXPECT_EQ(blobmsg_cast_s64(tb[UNDER]), -2147483649LL);
	EXPECT_EQ(blobmsg_type(tb[HUGE_]), BLOBMSG_TYPE_INT64);
	EXPECT_EQ(blobmsg_cast_s64(tb[HUGE_]), INT64_MAX);
}

TEST_F(Json, ScalarKindsFromJson)
{
	ASSERT_TRUE(blobmsg_add_json_from_string(&b,
		"{\"t\":true,\"f\":false,\"d\":1.5,\"e\":1e3,\"two\":2.0,\"nul\":null,\"s\":\"x\"}"));
	EXPECT_EQ(compact(), "{\"t\":true,\"f\":false,\"d\":1.500000,\"e\":1000.000000,"
			     "\"two\":2.000000,\"nul\":null,\"s\":\"x\"}");
	struct blob_attr *cur;
	size_t rem;
	int types[7], n = 0;
	blob_for_each_attr(cur, b.head, rem)
		types[n++] = blobmsg_type(cur);
	ASSERT_EQ(n, 7);
	EXPECT_EQ(types[0], BLOBMSG_TYPE_INT8);
	EXPECT_EQ(types[2], BLOBMSG_TYPE_DOUBLE);
	EXPECT_EQ(types[4], BLOBMSG_TYPE_DOUBLE);
	EXPECT_EQ(types[5], BLOBMSG_TYPE_UNSPEC);
	EXPECT_EQ(types[6], BLOBMSG_TYPE_STRING);
}

TEST_F(Json, NullBecomesEmptyUnspec)
{
	ASSERT_TRUE(blobmsg_add_json_element(&b, "nul", NULL));
	EXPECT_EQ(attr_bytes(first()), hex_bytes("80 00 00 0c 00 03 6e 75 6c 00 00 00"));
}

TEST_F(Json, ArrayElementShapeMatchesDumpD)
{
	struct json_object *arr = json_object_new_array();
	for (int i = 1; i <= 3; i++)
		json_object_array_add(arr, json_object_new_int(i));
	ASSERT_TRUE(blobmsg_add_json_element(&b, "list", arr));
	json_object_put(arr);
	EXPECT_EQ(attr_bytes(b.head), hex_bytes(
		"00 00 00 34 81 00 00 30 00 04 6c 69 73 74 00 00"
		"85 00 00 0c 00 00 00 00 00 00 00 01"
		"85 00 00 0c 00 00 00 00 00 00 00 02"
		"85 00 00 0c 00 00 00 00 00 00 00 03"));
}

TEST_F(Json, FromStringRejectsNonObjectsAndGarbage)
{
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, NULL));
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, "{\"a\":"));
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, "[1,2]"));
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, "\"str\""));
	EXPECT_FALSE(blobmsg_add_json_from_string(&b, "42"));
	EXPECT_EQ(blob_raw_len(b.head), 4u); // nothing added
	EXPECT_TRUE(blobmsg_add_json_from_string(&b, "{\"a\":1} trailing"));
	EXPECT_EQ(compact(), "{\"a\":1}");
	blob_buf_init(&b, 0);
	EXPECT_TRUE(blobmsg_add_json_from_string(&b, "{\"a\":1,\"a\":2}"));
	EXPECT_EQ(compact(), "{\"a\":2}");
}

TEST_F(Json, AddObjectAddsAtCurrentLevel)
{
	struct json_object *o = json_tokener_parse("{\"x\":1,\"y\":\"z\"}");
	ASSERT_NE(o, nullptr);
	void *t = blobmsg_open_table(&b, "inner");
	ASSERT_TRUE(blobmsg_add_object(&b, o));
	blobmsg_close_table(&b, t);
	json_object_put(o);
	EXPECT_EQ(compact(), "{\"inner\":{\"x\":1,\"y\":\"z\"}}");
}

TEST_F(Json, FromFile)
{
	const char *tmp = getenv("TMPDIR");
	std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/libubox-json-XXXXXX";
	char *path = &tmpl[0];
	int fd = mkstemp(path);
	ASSERT_GE(fd, 0);
	const char text[] = "{\"k\":[1,{\"n\":null}]}";
	ASSERT_EQ(write(fd, text, sizeof(text) - 1), (ssize_t) sizeof(text) - 1);
	close(fd);
	EXPECT_TRUE(blobmsg_add_json_from_file(&b, path));
	EXPECT_EQ(compact(), "{\"k\":[1,{\"n\":null}]}");
	unlink(path);
	EXPECT_FALSE(blobmsg_add_json_from_file(&b, path));
}

TEST_F(Json, RoundTrips)
{
	EXPECT_EQ(round("{}"), "{}");
	EXPECT_EQ(round("{\"a\":{\"b\":{\"c\":[[],[{}],[1,[2,[3]]]]}}}"),
		  "{\"a\":{\"b\":{\"c\":[[],[{}],[1,[2,[3]]]]}}}");
	EXPECT_EQ(round("{\"i8\":true,\"i32\":-7,\"i64\":-9223372036854775808,\"u\":4294967295}"),
		  "{\"i8\":true,\"i32\":-7,\"i64\":-9223372036854775808,\"u\":4294967295}");
	EXPECT_EQ(round("{\"d\":-0.5,\"e\":[0.125,1e2]}"), "{\"d\":-0.500000,\"e\":[0.125000,100.000000]}");
	EXPECT_EQ(round("{\"s\":\"q\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0001\\u00e9\"}"),
		  "{\"s\":\"q\\\"\\\\/\\b\\u000c\\n\\r\\t\\u0001\xc3\xa9\"}");
	EXPECT_EQ(round("{\"k\\nx\":1}"), "{\"k\\nx\":1}");
	EXPECT_EQ(round("{\"\":\"empty key\"}"), "{\"empty key\"}");

	// and the text parses back to the same values
	std::string once = round("{\"m\":[1,\"a\",true,null,{\"z\":-1}]}");
	EXPECT_EQ(round(once.c_str()), once);
}

TEST_F(Json, BlobmsgToJsonToBlobmsgKeepsEveryWidth)
{
	// JSON has no widths: INT16 comes back as INT32, values stay signed
	void *t = blobmsg_open_table(&b, "t");
	blobmsg_add_u8(&b, "i8", 1);
	blobmsg_add_u16(&b, "i16", 0x8000);
	blobmsg_add_u32(&b, "i32", 0x80000000u);
	blobmsg_add_u64(&b, "i64", 0x8000000000000000ULL);
	blobmsg_add_u64(&b, "small64", 7);
	blobmsg_add_double(&b, "d", -1.25);
	blobmsg_add_string(&b, "s", "tab\there \"q\" \\ \x1f");
	void *a = blobmsg_open_array(&b, "a");
	blobmsg_add_u8(&b, NULL, 0);
	void *inner = blobmsg_open_table(&b, NULL);
	blobmsg_add_u32(&b, "n", 1);
	blobmsg_close_table(&b, inner);
	blobmsg_close_array(&b, a);
	blobmsg_close_table(&b, t);

	std::string text = compact();
	struct blob_buf b2;
	memset(&b2, 0, sizeof(b2));
	blob_buf_init(&b2, 0);
	ASSERT_TRUE(blobmsg_add_json_from_string(&b2, text.c_str())) << text;
	EXPECT_EQ(take_string(blobmsg_format_json(b2.head, true)), text);

	struct blob_attr *tt = (struct blob_attr *) blob_data(b2.head);
	enum { I8, I16, I32, I64, S64, D, S, A, N };
	const struct blobmsg_policy pol[N] = {
		{ "i8", BLOBMSG_TYPE_BOOL }, { "i16", BLOBMSG_TYPE_INT32 },
		{ "i32", BLOBMSG_TYPE_INT32 }, { "i64", BLOBMSG_TYPE_INT64 },
		{ "small64", BLOBMSG_TYPE_INT32 }, { "d", BLOBMSG_TYPE_DOUBLE },
		{ "s", BLOBMSG_TYPE_STRING }, { "a", BLOBMSG_TYPE_ARRAY },
	};
	struct blob_attr *tb[N];
	ASSERT_EQ(blobmsg_parse_attr(pol, N, tb, tt), 0);
	for (int i = 0; i < N; i++)
		ASSERT_NE(tb[i], nullptr) << pol[i].name;
	EXPECT_TRUE(blobmsg_get_bool(tb[I8]));
	EXPECT_EQ(blobmsg_cast_s64(tb[I16]), -32768);
	EXPECT_EQ(blobmsg_cast_s64(tb[I32]), INT32_MIN);
	EXPECT_EQ(blobmsg_cast_s64(tb[I64]), INT64_MIN);
	EXPECT_EQ(blobmsg_cast_s64(tb[S64]), 7);
	EXPECT_EQ(blobmsg_get_double(tb[D]), -1.25);
	EXPECT_STREQ(blobmsg_get_string(tb[S]), "tab\there \"q\" \\ \x1f");
	EXPECT_EQ(blobmsg_check_array(tb[A], BLOBMSG_TYPE_UNSPEC), 2);
	blob_buf_free(&b2);
}

TEST(JsonHostile, FormattingStaysInsideEachContainer)
{
	// table "t": "a"=1, then "b" claiming 256 bytes inside a 32-byte table
	Exact over(hex_bytes("00 00 00 24 82 00 00 20 00 01 74 00"
			     "85 00 00 0c 00 01 61 00 00 00 00 01"
			     "85 00 01 00 00 01 62 00 00 00 00 02"));
	EXPECT_EQ(take_string(blobmsg_format_json(over.attr(), true)), "{\"t\":{\"a\":1}}");
	EXPECT_EQ(take_string(blobmsg_format_json_indent(over.attr(), true, 0)),
		  "{\n\t\"t\": {\n\t\t\"a\": 1\n\t}\n}");

	// a child shorter than its header is walked over as invalid
	Exact tiny(hex_bytes("00 00 00 28 82 00 00 24 00 01 74 00"
			     "85 00 00 0c 00 01 61 00 00 00 00 01"
			     "85 00 00 02"
			     "85 00 00 0c 00 00 00 00 00 00 00 03"));
	EXPECT_EQ(take_string(blobmsg_format_json(tiny.attr(), true)), "{\"t\":{\"a\":1,,3}}");

	// nested table running past its parent array is not entered
	Exact deep(hex_bytes("00 00 00 1c 81 00 00 18 00 01 61 00"
			     "82 00 00 40 00 00 00 00 85 00 00 0c 00 00 00 00"));
	EXPECT_EQ(take_string(blobmsg_format_json(deep.attr(), true)), "{\"a\":[]}");
}

TEST(JsonHostile, NestingDeeperThanTheStackIsRefused)
{
	auto nested = [](int depth) {
		struct blob_buf b;
		memset(&b, 0, sizeof(b));
		blob_buf_init(&b, 0);
		std::vector<void *> cookies;
		for (int i = 0; i < depth; i++)
			cookies.push_back(blobmsg_open_array(&b, NULL));
		while (!cookies.empty()) {
			blobmsg_close_array(&b, cookies.back());
			cookies.pop_back();
		}
		char *s = blobmsg_format_json(b.head, true);
		blob_buf_free(&b);
		return take_string(s);
	};
	// 256 levels counting the root's own braces print in full
	EXPECT_EQ(nested(255), "{" + std::string(255, '[') + std::string(255, ']') + "}");
	EXPECT_EQ(nested(256), "(null)");
	// an 800 KiB message of empty arrays, deeper than any stack
	EXPECT_EQ(nested(100000), "(null)");
}
