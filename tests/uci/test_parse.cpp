// Config file syntax: golden files, error positions, names, hostile input.
#include <gtest/gtest.h>

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "name_compares.h"
#include "uci_test_util.h"

using namespace ucitest;

namespace {

struct Loaded {
	struct uci_context *ctx;
	struct uci_package *p = nullptr;
	int rc;
	Loaded(const TempDir &d, const std::string &pkg, bool strict = true) : ctx(context_for(d))
	{
		if (!strict)
			ctx->flags = (enum uci_flags)(ctx->flags & ~UCI_FLAG_STRICT);
		rc = uci_load(ctx, pkg.c_str(), &p);
	}
	~Loaded() { uci_free_context(ctx); }
};

std::string golden(const std::string &name)
{
	return std::string(UCI_GOLDEN_DIR) + "/" + name;
}

// Each case: NAME.conf parses to the tree in NAME.tree, and committing it
// writes exactly NAME.commit, which parses back to the same tree.
// UCI_GOLDEN_UPDATE=1 rewrites the expectations (review the diff!).
class Golden : public ::testing::TestWithParam<const char *> {};

TEST_P(Golden, ParseLookupCommit)
{
	const std::string name = GetParam();
	const bool update = getenv("UCI_GOLDEN_UPDATE") != nullptr;
	TempDir d;
	write_file(d.conf_file(name), read_file(golden(name + ".conf")));

	std::string tree, committed;
	{
		Loaded l(d, name);
		ASSERT_EQ(l.rc, UCI_OK) << error_text(l.ctx);
		tree = dump_package(l.p);
		ASSERT_EQ(uci_commit(l.ctx, &l.p, true), UCI_OK);
		committed = read_file(d.conf_file(name));
	}
	if (update) {
		write_file(golden(name + ".tree"), tree);
		write_file(golden(name + ".commit"), committed);
	}
	EXPECT_EQ(tree, read_file(golden(name + ".tree")));
	EXPECT_EQ(committed, read_file(golden(name + ".commit")));

	Loaded again(d, name);
	ASSERT_EQ(again.rc, UCI_OK) << error_text(again.ctx);
	EXPECT_EQ(dump_package(again.p), tree);
}

INSTANTIATE_TEST_SUITE_P(Files, Golden,
			 ::testing::Values("quoting", "lists", "anonymous", "syntax", "crlf", "escapes", "nonl"));

struct ErrCase {
	const char *text;
	const char *message;
};

class ParseError : public ::testing::TestWithParam<ErrCase> {};

TEST_P(ParseError, ExactMessageAndNothingKept)
{
	TempDir d;
	write_file(d.conf_file("bad"), GetParam().text);
	Loaded l(d, "bad");
	EXPECT_EQ(l.rc, UCI_ERR_PARSE);
	EXPECT_EQ(error_text(l.ctx, "uci"), std::string("uci: ") + GetParam().message);
	EXPECT_TRUE(uci_list_empty(&l.ctx->root));
	EXPECT_NE(l.ctx->pctx, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, ParseError, ::testing::Values(
	ErrCase{ "config a x\n\nfoo bar\n", "Parse error (invalid command) at line 3, byte 0" },
	ErrCase{ "option b c\n", "Parse error (option/list command found before the first section) at line 1, byte 0" },
	ErrCase{ "config a x\n\toption b c d\n", "Parse error (too many arguments) at line 2, byte 14" },
	ErrCase{ "config a x-y\n", "Parse error (invalid character in name field) at line 1, byte 13" },
	ErrCase{ "config \"a b\" x\n", "Parse error (invalid character in type field) at line 1, byte 13" },
	ErrCase{ "config a x\nconfig b x\n",
		 "Parse error (section of different type overwrites prior section with same name) at line 2, byte 11" },
	ErrCase{ "config a x\n\toption b 'unterminated\n", "Parse error (EOF with unterminated ') at line 2, byte 24" },
	ErrCase{ "config a x\n\toption b \"open\nstill open\n", "Parse error (EOF with unterminated \") at line 3, byte 11" },
	ErrCase{ "config\n", "Parse error (invalid command) at line 1, byte 0" },
	ErrCase{ "config a x\n\toption\n", "Parse error (invalid command) at line 2, byte 1" },
	ErrCase{ "package a.b\n", "Parse error (invalid character in name field) at line 1, byte 12" },
	ErrCase{ "config a x\n\toption b-c 1\n", "Parse error (invalid character in name field) at line 2, byte 12" },
	ErrCase{ "config a x\n\toption x 'y';x\n", "Parse error (invalid command) at line 2, byte 14" },
	ErrCase{ "config a x\n\toption x \"y\";config\n", "Parse error (invalid command) at line 2, byte 14" },
	ErrCase{ "config a 'x';option b c d\n", "Parse error (too many arguments) at line 1, byte 26" }));

// A ';' right after a closing quote separates statements like one after
// white space; glued to an unquoted word it still ends the line.
TEST(Parse, SemicolonAfterQuoteSeparates)
{
	TempDir d;
	write_file(d.conf_file("s"),
		   "config t 'a';option x 'y';option z 'w'\n"
		   "\tlist l 'a';list l \"b\"; list l c\n"
		   "\toption q \"1\"; option r 2\n"
		   "\toption e '';option f 'g'\n"
		   "\toption u v; option dropped 1\n"
		   "\toption m 'n'x;option dropped2 1\n");
	Loaded l(d, "s");
	ASSERT_EQ(l.rc, UCI_OK) << error_text(l.ctx);
	EXPECT_EQ(dump_package(l.p), "a \"t\"\n\tx = \"y\"\n\tz = \"w\"\n\tl = [\"a\", \"b\", \"c\"]\n"
				     "\tq = \"1\"\n\tr = \"2\"\n\tf = \"g\"\n\tu = \"v\"\n\tm = \"nx\"\n");
}

TEST(Parse, NonStrictSkipsFaultyLines)
{
	TempDir d;
	write_file(d.conf_file("net"), "config a x\n\toption b 1\nfoo bar\n\toption c 2\nconfig b x\n");
	Loaded l(d, "net", false);
	ASSERT_EQ(l.rc, UCI_OK);
	EXPECT_EQ(dump_package(l.p), "x \"b\"\n\tb = \"1\"\n\tc = \"2\"\n");
	// A later error-free call does not carry the old detail along.
	struct uci_ptr ptr;
	char key[] = "nosuch.a.b";
	EXPECT_EQ(uci_lookup_ptr(l.ctx, &ptr, key, false), UCI_ERR_NOTFOUND);
	EXPECT_EQ(error_text(l.ctx), "Entry not found");
}

TEST(Parse, StaleDetailNotRepeated)
{
	TempDir d;
	write_file(d.conf_file("bad"), "foo\n");
	write_file(d.conf_file("good"), "config a x\n");
	Loaded l(d, "bad");
	ASSERT_EQ(l.rc, UCI_ERR_PARSE);
	char key[] = "good.y";
	struct uci_ptr ptr;
	EXPECT_EQ(uci_lookup_ptr(l.ctx, &ptr, key, false), UCI_OK);
	char bad[] = "good.a.b.c";
	EXPECT_EQ(uci_lookup_ptr(l.ctx, &ptr, bad, false), UCI_ERR_PARSE);
	EXPECT_EQ(error_text(l.ctx, "uci"), "uci: Parse error");
}

TEST(Parse, TypeMayHoldAnyPrintableName)
{
	TempDir d;
	write_file(d.conf_file("t"), "config a-b x\n");
	Loaded l(d, "t");
	ASSERT_EQ(l.rc, UCI_OK);
	EXPECT_STREQ(uci_lookup_section(l.ctx, l.p, "x")->type, "a-b");
}

// Types may hold characters the reader treats specially; a commit must
// still write a file that loads back to the same types.
TEST(Parse, CommittedOddTypesLoadBack)
{
	TempDir d;
	write_file(d.conf_file("t"), "config 'a\"b' x\nconfig a\\#b\\;c\\'d y\nconfig plain-type.@z z\n");
	std::string tree;
	{
		Loaded l(d, "t");
		ASSERT_EQ(l.rc, UCI_OK) << error_text(l.ctx);
		tree = dump_package(l.p);
		EXPECT_EQ(tree, "x \"a\\\"b\"\ny \"a#b;c'd\"\nz \"plain-type.@z\"\n");
		ASSERT_EQ(uci_commit(l.ctx, &l.p, true), UCI_OK);
	}
	EXPECT_EQ(read_file(d.conf_file("t")),
		  "\nconfig 'a\"b' 'x'\n\nconfig 'a#b;c'\\''d' 'y'\n\nconfig plain-type.@z 'z'\n\n");
	Loaded again(d, "t");
	ASSERT_EQ(again.rc, UCI_OK) << error_text(again.ctx);
	EXPECT_EQ(dump_package(again.p), tree);
}

TEST(Parse, AnonymousNamesKeepCounting)
{
	// One named section, then 256 anonymous "sw" sections: the counter
	// reaches three hex digits at the 256th section.
	std::string text = "config sw named\n";
	for (int i = 0; i < 256; i++)
		text += "config sw\n";
	TempDir d;
	write_file(d.conf_file("big"), text);
	Loaded l(d, "big");
	ASSERT_EQ(l.rc, UCI_OK);
	struct uci_element *e;
	std::string last, before;
	uci_foreach_element(&l.p->sections, e) {
		before = last;
		last = e->name;
	}
	EXPECT_EQ(before, "cfg100798f");
	EXPECT_EQ(last, "cfg101798f");
	EXPECT_EQ(l.p->n_section, 257);
}

TEST(Parse, ReopenedSectionIsNotCounted)
{
	TempDir d;
	write_file(d.conf_file("n"), "config t a\nconfig t a\n\toption x 1\nconfig t\n");
	Loaded l(d, "n");
	ASSERT_EQ(l.rc, UCI_OK);
	EXPECT_EQ(dump_package(l.p), "a \"t\"\n\tx = \"1\"\ncfg02b619 (anonymous) \"t\"\n");
}

// Input that must neither crash nor read out of bounds (run under ASan).
TEST(ParseHostile, BinaryGarbage)
{
	std::string junk;
	unsigned int seed = 12345;
	for (int i = 0; i < 65536; i++) {
		seed = seed * 1103515245u + 12345u;
		junk += (char)(seed >> 16);
	}
	TempDir d;
	write_file(d.conf_file("junk"), junk);
	Loaded strict(d, "junk");
	EXPECT_EQ(strict.rc, UCI_ERR_PARSE);
	EXPECT_EQ(error_text(strict.ctx, "uci").rfind("uci: Parse error (", 0), 0u) << error_text(strict.ctx);
	Loaded lax(d, "junk", false);
	EXPECT_EQ(lax.rc, UCI_OK);
}

TEST(ParseHostile, MegabyteLines)
{
	TempDir d;
	std::string big(1 << 20, 'v');
	write_file(d.conf_file("val"), "config t s\n\toption o '" + big + "'\n");
	{
		Loaded l(d, "val");
		ASSERT_EQ(l.rc, UCI_OK);
		EXPECT_EQ(std::string(uci_lookup_option_string(l.ctx, uci_lookup_section(l.ctx, l.p, "s"), "o")), big);
	}
	write_file(d.conf_file("cmd"), "config t s\n" + big);
	{
		Loaded l(d, "cmd");
		EXPECT_EQ(l.rc, UCI_ERR_PARSE);
		EXPECT_EQ(error_text(l.ctx), "Parse error (invalid command) at line 2, byte 0");
	}
	write_file(d.conf_file("open"), "config t s\n\toption o '" + big);
	{
		Loaded l(d, "open");
		EXPECT_EQ(l.rc, UCI_ERR_PARSE);
		EXPECT_EQ(error_text(l.ctx), "Parse error (EOF with unterminated ') at line 2, byte " +
						      std::to_string(big.size() + 11));
	}
}

TEST(ParseHostile, EdgesOfTheBuffer)
{
	const char *const texts[] = {
		"config t s\n\toption o \\",       "config t s\n\toption o \"\\",  "config t s\n\toption o \"a\\\n",
		"config t s\n\toption o 'a\\'",    "config t s\n\toption o a\\\r", "config t s\n\toption o \"\\\r",
		"config t s\n\toption o x\\\r\n", "c",                           "config ",
		"config t s\n\tlist",              ";;;;",                        "config t s ;",
	};
	TempDir d;
	for (const char *t : texts) {
		write_file(d.conf_file("edge"), t);
		Loaded l(d, "edge");
		EXPECT_TRUE(l.rc == UCI_OK || l.rc == UCI_ERR_PARSE) << t;
	}
}

// A NUL byte inside a word refuses the line: an error in strict mode, the
// line skipped otherwise; in a comment it is harmless.
TEST(Parse, NulByteRefusesTheLine)
{
	static const struct {
		const char *text;
		size_t len;
		const char *message;
	} cases[] = {
		{ "config t s\n\toption o 'a\0b'\n", 27, "invalid character in value field) at line 2, byte 16" },
		{ "config t s\n\toption p q\0r\n", 25, "invalid character in value field) at line 2, byte 14" },
		{ "config t s\n\toption p\0 q\n", 24, "invalid character in name field) at line 2, byte 11" },
		{ "config t s\nconfig t\0u p\n", 24, "invalid character in type field) at line 2, byte 11" },
		{ "config t s\n\0option p q\n", 23, "invalid command) at line 2, byte 0" },
		{ "config t s\n\toption p q \0\n", 25, "too many arguments) at line 2, byte 14" },
	};
	TempDir d;
	for (const auto &c : cases) {
		std::string text(c.text, c.len);
		write_file(d.conf_file("nul"), text + "\toption z 1\n");
		Loaded strict(d, "nul");
		EXPECT_EQ(strict.rc, UCI_ERR_PARSE);
		EXPECT_EQ(error_text(strict.ctx), std::string("Parse error (") + c.message);
		Loaded lax(d, "nul", false);
		ASSERT_EQ(lax.rc, UCI_OK);
		std::string tree = dump_package(lax.p);
		EXPECT_EQ(tree.find("\tp = "), std::string::npos) << tree;
		EXPECT_NE(tree.find("\tz = \"1\""), std::string::npos) << tree;
	}
	static const char comment[] = "config t s # a\0b\n\toption z 1\n";
	write_file(d.conf_file("c"), std::string(comment, sizeof(comment) - 1));
	Loaded l(d, "c");
	ASSERT_EQ(l.rc, UCI_OK) << error_text(l.ctx);
}

// Work of one load, counted: the name comparisons libuci makes, and the
// user-space instructions where the kernel lets us count them. Neither
// moves with the machine's load, as a time would.
struct Work {
	double compares = 0, instructions = 0;
	bool counted_instructions = false;
};

Work load_work(const TempDir &d, const char *pkg)
{
	struct perf_event_attr a = {};
	a.type = PERF_TYPE_HARDWARE;
	a.size = sizeof(a);
	a.config = PERF_COUNT_HW_INSTRUCTIONS;
	a.exclude_kernel = 1;
	a.exclude_hv = 1;
	int fd = (int)syscall(SYS_perf_event_open, &a, 0, -1, -1, 0);
	struct uci_context *ctx = context_for(d);
	struct uci_package *p = nullptr;
	Work w;
	long long before = 0, after = 0;
	w.counted_instructions = fd >= 0 && read(fd, &before, sizeof(before)) == sizeof(before);
	name_compares = 0;
	name_compares_on = 1;
	int rc = uci_load(ctx, pkg, &p);
	name_compares_on = 0;
	if (w.counted_instructions && read(fd, &after, sizeof(after)) != sizeof(after))
		w.counted_instructions = false;
	if (fd >= 0)
		close(fd);
	EXPECT_EQ(rc, UCI_OK);
	uci_free_context(ctx);
	w.compares = (double)name_compares;
	w.instructions = (double)(after - before);
	return w;
}

// Ten times the sections must cost about ten times the work, not a hundred:
// named sections and sections of many options once made loading quadratic.
TEST(ParseScale, WorkGrowsLinearly)
{
	TempDir d;
	for (int scale : { 1, 10 }) {
		std::string text;
		for (int i = 0; i < 4000 * scale; i++)
			text += "config iface 's" + std::to_string(i) + "'\n\toption ifname 'eth" + std::to_string(i) +
				"'\n\tlist dns '1'\n";
		text += "config t wide\n";
		for (int i = 0; i < 4000 * scale; i++)
			text += "\toption o" + std::to_string(i) + " v\n";
		write_file(d.conf_file("s" + std::to_string(scale)), text);
	}
	load_work(d, "s1"); // warm up the allocator and caches
	Work small = load_work(d, "s1"), large = load_work(d, "s10");
	ASSERT_GT(small.compares, 0) << "libuci's strcmp calls are not seen: name_compares.c is not in use";
	EXPECT_LT(large.compares / small.compares, 16.0)
		<< "name comparisons " << small.compares << " -> " << large.compares;
	if (small.counted_instructions && large.counted_instructions) {
		EXPECT_LT(large.instructions / small.instructions, 16.0)
			<< "instructions " << small.instructions << " -> " << large.instructions;
	}
}

// Lookups in a section large enough to be indexed agree with the list after
// renames (also onto a name in use: the first wins), deletes and re-adds.
TEST(ParseScale, LargeSectionLookups)
{
	TempDir d;
	std::string text = "config t s\n";
	for (int i = 0; i < 40; i++)
		text += "\toption o" + std::to_string(i) + " v" + std::to_string(i) + "\n";
	write_file(d.conf_file("w"), text);
	Loaded l(d, "w");
	ASSERT_EQ(l.rc, UCI_OK);
	auto get = [&](const char *key) {
		std::string k = key;
		struct uci_ptr p;
		if (uci_lookup_ptr(l.ctx, &p, &k[0], false) || !p.o)
			return std::string("<none>");
		return std::string(p.o->v.string);
	};
	auto edit = [&](int (*fn)(struct uci_context *, struct uci_ptr *), const char *kv) {
		std::string k = kv;
		struct uci_ptr p;
		ASSERT_EQ(uci_lookup_ptr(l.ctx, &p, &k[0], false), UCI_OK);
		ASSERT_EQ(fn(l.ctx, &p), UCI_OK);
	};
	EXPECT_EQ(get("w.s.o39"), "v39");
	edit(uci_rename, "w.s.o39=o5");
	EXPECT_EQ(get("w.s.o5"), "v5");
	edit(uci_delete, "w.s.o5");
	EXPECT_EQ(get("w.s.o5"), "v39");
	edit(uci_set, "w.s.o39=again");
	EXPECT_EQ(get("w.s.o39"), "again");
	edit(uci_rename, "w.s=r");
	EXPECT_EQ(get("w.r.o39"), "again");
	EXPECT_EQ(get("w.s.o39"), "<none>");
}

} // namespace
