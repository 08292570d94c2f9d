#include <gtest/gtest.h>

#include "daemon_state.h"
#include "core/log.h"
#include "ns_support.h"

namespace {

int evaluated;

int counted(int v)
{
	evaluated++;
	return v;
}

int error_line;
int debug_line;

void emit_error(int v)
{
	error_line = __LINE__ + 1;
	log_error("value %d of %s\n", v, "x");
}

void emit_debug()
{
	debug_line = __LINE__ + 1;
	log_debug("dbg\n\n");
}

std::string emit_both()
{
	return capture_stdout([] {
		emit_error(7);
		emit_debug();
	});
}

TEST(Log, TagsForEveryLevel)
{
	EXPECT_STREQ(log_level_tag(1), "[ERROR]");
	EXPECT_STREQ(log_level_tag(2), "[ INFO]");
	EXPECT_STREQ(log_level_tag(3), "[DEBUG]");
	EXPECT_EQ(log_level_tag(1), __error_log_tag);
	for (int level : { 0, 4, -1, 1000, -2147483647 - 1 })
		EXPECT_STREQ(log_level_tag(level), "[ UNKN]") << level;
}

TEST(Log, ExactLineText)
{
	reset_daemon_state();
	set_log_level(3);
	std::string out = emit_both();
	EXPECT_EQ(out, "[ERROR] emit_error(" + std::to_string(error_line) + ") : value 7 of x\n"
		       "[DEBUG] emit_debug(" + std::to_string(debug_line) + ") : dbg\n\n");
}

TEST(Log, LevelGates)
{
	reset_daemon_state();
	set_log_level(2);
	std::string out = emit_both();
	EXPECT_NE(out.find("[ERROR]"), std::string::npos);
	EXPECT_EQ(out.find("[DEBUG]"), std::string::npos);

	set_log_level(1);
	EXPECT_EQ(emit_both().find("[DEBUG]"), std::string::npos);
	for (int level : { 0, -1 }) {
		set_log_level(level);
		EXPECT_EQ(emit_both(), "") << level;
	}
	set_log_level(4);
	EXPECT_NE(emit_both().find("[DEBUG] "), std::string::npos);
}

TEST(Log, SuppressedMessageEvaluatesNothing)
{
	reset_daemon_state();
	set_log_level(2);
	evaluated = 0;
	std::string out = capture_stdout([] { log_debug("%d\n", counted(1)); });
	EXPECT_EQ(out, "");
	EXPECT_EQ(evaluated, 0);
}

/* A format too long to get its prefix in front goes out whole, without the prefix. */
TEST(Log, FormatTooLongForThePrefix)
{
#define X10 "xxxxxxxxxx"
#define X100 X10 X10 X10 X10 X10 X10 X10 X10 X10 X10
	reset_daemon_state();
	EXPECT_EQ(capture_stdout([] { log_error(X100 X100 X100 X100 X100 "%d\n", 5); }), std::string(500, 'x') + "5\n");
#undef X100
#undef X10
}

} // namespace
