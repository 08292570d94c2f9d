// Key lookup: flags, pointers, the in-place rewrite of the key, extended syntax.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "uci_test_util.h"

using namespace ucitest;

namespace {

class Lookup : public ::testing::Test {
protected:
	void SetUp() override
	{
		write_file(d.conf_file("net"), kNetSample);
		ctx = context_for(d);
	}
	void TearDown() override { uci_free_context(ctx); }

	int lookup(const char *key, bool extended = false)
	{
		snprintf(buf, sizeof(buf), "%s", key);
		return uci_lookup_ptr(ctx, &ptr, buf, extended);
	}

	TempDir d;
	struct uci_context *ctx = nullptr;
	struct uci_ptr ptr;
	char buf[512];
};

TEST_F(Lookup, FoundOption)
{
	ASSERT_EQ(lookup("net.lan.ifname"), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_COMPLETE);
	ASSERT_NE(ptr.o, nullptr);
	EXPECT_EQ(ptr.o->type, UCI_TYPE_STRING);
	EXPECT_STREQ(ptr.o->v.string, "eth0");
	EXPECT_EQ(ptr.last, &ptr.o->e);
	EXPECT_EQ(ptr.target, UCI_TYPE_OPTION);
	EXPECT_STREQ(buf, "net");
}

TEST_F(Lookup, PackageAndSectionTargets)
{
	ASSERT_EQ(lookup("net"), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_COMPLETE);
	EXPECT_EQ(ptr.last, &ptr.p->e);
	EXPECT_EQ(ptr.target, UCI_TYPE_PACKAGE);
	ASSERT_EQ(lookup("net.lan"), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_COMPLETE);
	EXPECT_EQ(ptr.last, &ptr.s->e);
	EXPECT_EQ(ptr.target, UCI_TYPE_SECTION);
}

TEST_F(Lookup, MissingOptionAndSectionAreNotErrors)
{
	ASSERT_EQ(lookup("net.lan.nope"), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE);
	EXPECT_NE(ptr.s, nullptr);
	EXPECT_EQ(ptr.o, nullptr);
	EXPECT_EQ(ptr.last, &ptr.s->e);

	ASSERT_EQ(lookup("net.nope.x"), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE);
	EXPECT_NE(ptr.p, nullptr);
	EXPECT_EQ(ptr.s, nullptr);
	EXPECT_EQ(ptr.last, &ptr.p->e);
}

TEST_F(Lookup, MissingPackage)
{
	EXPECT_EQ(lookup("nopkg.a.b"), UCI_ERR_NOTFOUND);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE);
	EXPECT_EQ(ptr.p, nullptr);
	EXPECT_STREQ(ptr.package, "nopkg");
	EXPECT_STREQ(ptr.option, "b");
	EXPECT_EQ(ctx->err, UCI_ERR_NOTFOUND);
}

TEST_F(Lookup, MalformedKeys)
{
	const struct {
		const char *key;
		bool extended;
		int rc;
	} cases[] = {
		{ "net.a.b.c", false, UCI_ERR_PARSE },   { "net.lan.if-name", false, UCI_ERR_PARSE },
		{ ".a", false, UCI_ERR_PARSE },          { "", false, UCI_ERR_PARSE },
		{ "net.lan.x=a\x01", false, UCI_ERR_PARSE }, { "net.@switch", true, UCI_ERR_INVAL },
		{ "net.@switch[1]x", true, UCI_ERR_INVAL }, { "net..x", true, UCI_ERR_INVAL },
		{ "net.l-an", true, UCI_ERR_INVAL },     { "net.@switch[x]", true, UCI_ERR_INVAL },
		{ "net.@sw itch[0]", true, UCI_ERR_INVAL }, { "net.@switch[0", true, UCI_ERR_INVAL },
	};
	for (const auto &c : cases) {
		EXPECT_EQ(lookup(c.key, c.extended), c.rc) << c.key;
		EXPECT_EQ(ptr.flags, 0) << c.key;
		EXPECT_EQ(ptr.p, nullptr) << c.key;
	}
}

TEST_F(Lookup, ExtendedSyntax)
{
	ASSERT_EQ(lookup("net.@switch[-1].name", true), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_COMPLETE | uci_ptr::UCI_LOOKUP_EXTENDED);
	EXPECT_STREQ(ptr.o->v.string, "switch1");
	EXPECT_STREQ(ptr.section, "cfg043777");
	// the selector text stays in the caller's buffer
	EXPECT_STREQ(buf + 4, "@switch[-1]");

	ASSERT_EQ(lookup("net.@switch[0].name", true), UCI_OK);
	EXPECT_STREQ(ptr.o->v.string, "switch0");
	ASSERT_EQ(lookup("net.@switch[+01]", true), UCI_OK);
	EXPECT_STREQ(ptr.section, "cfg043777");
	ASSERT_EQ(lookup("net.@switch[]", true), UCI_OK);
	EXPECT_STREQ(ptr.section, "cfg033777");
	ASSERT_EQ(lookup("net.@switch[-2]", true), UCI_OK);
	EXPECT_STREQ(ptr.section, "cfg033777");
	// named sections count too, and @[N] counts every section
	ASSERT_EQ(lookup("net.@interface[1].ifname", true), UCI_OK);
	EXPECT_STREQ(ptr.o->v.string, "eth1");
	ASSERT_EQ(lookup("net.@[2]", true), UCI_OK);
	EXPECT_STREQ(ptr.section, "cfg033777");

	ASSERT_EQ(lookup("net.@switch[7]", true), UCI_OK);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_EXTENDED);
	EXPECT_EQ(ptr.s, nullptr);
	EXPECT_STREQ(ptr.section, "@switch[7]");
	ASSERT_EQ(lookup("net.@switch[-3]", true), UCI_OK);
	EXPECT_EQ(ptr.s, nullptr);
}

TEST_F(Lookup, ExtendedRefusedWithoutFlag)
{
	EXPECT_EQ(lookup("net.@switch[-1].name", false), UCI_ERR_INVAL);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_EXTENDED);
	EXPECT_NE(ptr.p, nullptr);
	EXPECT_EQ(lookup("net.l-an", false), UCI_ERR_INVAL);
	EXPECT_EQ(ptr.flags, uci_ptr::UCI_LOOKUP_DONE | uci_ptr::UCI_LOOKUP_EXTENDED);
}

TEST_F(Lookup, KeyBufferIsSplitInPlace)
{
	char key[] = "net.lan.ifname=foo";
	ASSERT_EQ(uci_lookup_ptr(ctx, &ptr, key, false), UCI_OK);
	EXPECT_EQ(memcmp(key, "net\0lan\0ifname\0foo\0", sizeof(key)), 0);
	EXPECT_STREQ(ptr.value, "foo");
	EXPECT_EQ(ptr.value, key + 15);

	char k2[] = "net.lan=a=b.c";
	ASSERT_EQ(uci_lookup_ptr(ctx, &ptr, k2, false), UCI_OK);
	EXPECT_STREQ(ptr.value, "a=b.c");
	char k3[] = "net.lan=";
	ASSERT_EQ(uci_lookup_ptr(ctx, &ptr, k3, false), UCI_OK);
	EXPECT_STREQ(ptr.value, "");
}

TEST_F(Lookup, ListOption)
{
	ASSERT_EQ(lookup("net.lan.dns"), UCI_OK);
	ASSERT_EQ(ptr.o->type, UCI_TYPE_LIST);
	std::string items;
	struct uci_element *e;
	uci_foreach_element(&ptr.o->v.list, e) items += std::string(e->name) + "|";
	EXPECT_EQ(items, "8.8.8.8|1.1.1.1|");
	EXPECT_EQ(uci_lookup_option_string(ctx, ptr.s, "dns"), nullptr);
	EXPECT_STREQ(uci_lookup_option_string(ctx, ptr.s, "proto"), "static");
	EXPECT_EQ(uci_lookup_option_string(ctx, ptr.s, "missing"), nullptr);
	EXPECT_EQ(ctx->err, UCI_ERR_NOTFOUND);
}

TEST_F(Lookup, PackageStaysLoadedAndIsNotReread)
{
	ASSERT_EQ(lookup("net.lan.ifname"), UCI_OK);
	struct uci_package *p = ptr.p;
	write_file(d.conf_file("net"), "config interface lan\n\toption ifname changed\n");
	ASSERT_EQ(lookup("net.lan.ifname"), UCI_OK);
	EXPECT_EQ(ptr.p, p);
	EXPECT_STREQ(ptr.o->v.string, "eth0");
	struct uci_package *dup = nullptr;
	EXPECT_EQ(uci_load(ctx, "net", &dup), UCI_ERR_DUPLICATE);
}

TEST_F(Lookup, LongValues)
{
	for (size_t len : { 63u, 64u, 300u }) {
		std::string v(len, 'x');
		v[0] = 'a';
		v[len - 1] = 'z';
		write_file(d.conf_file("long"), "config t s\n\toption v '" + v + "'\n\tlist l '" + v + "'\n");
		struct uci_context *c = context_for(d);
		char key[] = "long.s.v";
		struct uci_ptr p;
		ASSERT_EQ(uci_lookup_ptr(c, &p, key, true), UCI_OK);
		ASSERT_NE(p.o, nullptr);
		EXPECT_EQ(std::string(p.o->v.string), v) << len;
		char lkey[] = "long.s.l";
		ASSERT_EQ(uci_lookup_ptr(c, &p, lkey, true), UCI_OK);
		EXPECT_EQ(std::string(list_to_element(p.o->v.list.next)->name), v) << len;
		uci_free_context(c);
	}
}

TEST_F(Lookup, AbsolutePathLoadsWithoutDeltas)
{
	write_file(d.save_file("net"), "net.lan.ifname='fromdelta'\n");
	std::string key = d.conf() + "/net.lan.ifname";
	std::vector<char> k(key.begin(), key.end());
	k.push_back(0);
	ASSERT_EQ(uci_lookup_ptr(ctx, &ptr, k.data(), false), UCI_OK);
	EXPECT_STREQ(ptr.p->e.name, "net");
	EXPECT_FALSE(ptr.p->has_delta);
	EXPECT_STREQ(ptr.o->v.string, "eth0");
}

TEST_F(Lookup, HelpersAndErrors)
{
	struct uci_package *p = nullptr;
	ASSERT_EQ(uci_load(ctx, "net", &p), UCI_OK);
	EXPECT_EQ(uci_lookup_package(ctx, "net"), p);
	EXPECT_EQ(uci_lookup_package(ctx, "other"), nullptr);
	struct uci_section *s = uci_lookup_section(ctx, p, "wan");
	ASSERT_NE(s, nullptr);
	EXPECT_STREQ(s->type, "interface");
	EXPECT_EQ(uci_lookup_section(ctx, p, "cfg033777")->anonymous, true);
	EXPECT_EQ(uci_lookup_option(ctx, s, "ifname")->section, s);

	EXPECT_EQ(uci_load(ctx, "bad name", &p), UCI_ERR_INVAL);
	EXPECT_EQ(uci_load(ctx, "../x", &p), UCI_ERR_NOTFOUND);
	EXPECT_EQ(uci_load(nullptr, "net", &p), UCI_ERR_INVAL);
	mkdir(d.conf_file("dir").c_str(), 0755);
	EXPECT_EQ(uci_load(ctx, "dir", &p), UCI_ERR_NOTFOUND);

	const char *texts[] = { "Success", "Out of memory", "Invalid argument", "Entry not found", "I/O error",
				"Parse error", "Duplicate entry", "Unknown error", "Unknown error" };
	for (int i = 0; i <= UCI_ERR_LAST; i++) {
		ctx->err = i;
		EXPECT_EQ(error_text(ctx, "x"), std::string("x: ") + texts[i]);
	}
	EXPECT_EQ(error_text(nullptr), "Invalid argument");
}

} // namespace
