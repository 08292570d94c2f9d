/*
 * The reply of "get_history" as the handler builds it in the reply buffer,
 * for every kind of argument message a caller can send: what the ubus tool
 * makes of JSON (integers of 32 and 64 bits, doubles, booleans, strings)
 * and what it cannot (a table in place of a number).
 */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>

#include "daemon_state.h"
#include "stats/dev_stat.h"
#include "stats/history.h"
#include "stats/interface_list.h"

#include "rpc/rpc_bus.h"
#include "rpc/rpc_history.h"
#include "rpc/rpc_msg.h"

namespace {

/* The reply to the arguments that add builds, read at now, as JSON text. */
std::string reply(const std::function<void(struct blob_buf *)> &add, struct timespec now = at(1000))
{
	static struct blob_buf args;

	blob_buf_init(&args, 0);
	add(&args);
	history_reply(args.head, now);
	char *json = blobmsg_format_json(rpc_buf.head, true);
	std::string text = json ? json : "(none)";
	free(json);
	return text;
}

std::string reply_json(const char *json, struct timespec now = at(1000))
{
	return reply([&](struct blob_buf *b) { ASSERT_TRUE(blobmsg_add_json_from_string(b, json)) << json; }, now);
}

class HistoryReply : public ::testing::Test {
protected:
	void SetUp() override { reset_daemon_state(); }
};

TEST_F(HistoryReply, ArgumentsThatNameNoHistoryGetAnEmptyReply)
{
	const char *none[] = {
		"{}",
		"{\"range\": \"recent\"}",
		"{\"interface1\": 4}",
		"{\"interface1\": 12}",
		"{\"interface1\": -1}",
		"{\"interface1\": 5000000000}",
		"{\"interface1\": 0.0}",
		"{\"interface1\": true}",
		"{\"interface1\": \"0\"}",
		"{\"interface1\": 0, \"range\": \"week\"}",
		"{\"interface1\": 0, \"range\": \"\"}",
		"{\"interface1\": 0, \"range\": \"Day\"}",
		"{\"interface2\": 0}",
	};
	for (const char *args : none)
		EXPECT_EQ(reply_json(args), "{}") << args;
	/* a table where the slot belongs */
	EXPECT_EQ(reply([](struct blob_buf *b) {
			  void *t = blobmsg_open_table(b, "interface1");
			  blobmsg_add_u32(b, "interface1", 0);
			  blobmsg_close_table(b, t);
		  }),
		  "{}");
}

TEST_F(HistoryReply, RangeRecentUnlessDayIsAsked)
{
	const char *empty_recent = "{\"interface1\":9,\"range\":\"recent\",\"interval\":1,\"age\":0,"
				   "\"tx_speed\":[],\"rx_speed\":[]}";

	EXPECT_EQ(reply_json("{\"interface1\": 9}"), empty_recent);
	EXPECT_EQ(reply_json("{\"interface1\": 9, \"range\": \"recent\"}"), empty_recent);
	/* a range of another type counts as missing */
	EXPECT_EQ(reply_json("{\"interface1\": 9, \"range\": 1}"), empty_recent);
	EXPECT_EQ(reply_json("{\"interface1\": 9, \"range\": \"day\", \"other\": 1}"),
		  "{\"interface1\":9,\"range\":\"day\",\"interval\":300,\"age\":0,"
		  "\"tx_speed\":[],\"rx_speed\":[],\"tx_bytes\":[],\"rx_bytes\":[]}");
	EXPECT_EQ(reply_json("{\"interface1\": 2, \"range\": \"day\"}"),
		  "{\"interface1\":2,\"range\":\"day\",\"interval\":300,\"age\":0,"
		  "\"tx_speed\":[],\"rx_speed\":[]}");
}

/* Full rings: every array one entry per interval, oldest first; the wired total without bytes. */
/* A day of passes, three an interval, the last at 87399 s in [87300, 87600), which keeps [87000, 87300). */
void fill_day()
{
	unsigned long long tx = 0;

	strcpy(slot_at(9).ifname, "br-lan");
	for (long s = 299; s < 87400; s += 100) {
		char line[128];

		history_pass(at(s));
		snprintf(line, sizeof(line), "br-lan: 0 1 0 0 0 0 0 0 %llu 1 0 0 0 0 0 0\n", tx += 30000);
		parse_dev_stat_line(line, at(s));
		interface_set_wired_sum(1.5, 2.5);
	}
}

TEST_F(HistoryReply, FullRings)
{
	fill_day();
	auto list = [](const char *text, int n) {
		std::string out = "[";
		for (int i = 0; i < n; i++)
			out += std::string(i ? "," : "") + "\"" + text + "\"";
		return out + "]";
	};
	/* read 120 s after the newest interval kept ended */
	EXPECT_EQ(reply_json("{\"interface1\": 9, \"range\": \"day\"}", at(87420, 999999999)),
		  "{\"interface1\":9,\"range\":\"day\",\"interval\":300,\"age\":120,\"tx_speed\":" +
			  list("2.34", HISTORY_DAY) + ",\"rx_speed\":" + list("0.00", HISTORY_DAY) +
			  ",\"tx_bytes\":" + list("90000", HISTORY_DAY) + ",\"rx_bytes\":" + list("0", HISTORY_DAY) + "}");
	EXPECT_EQ(reply_json("{\"interface1\": 2, \"range\": \"day\"}", at(87300)),
		  "{\"interface1\":2,\"range\":\"day\",\"interval\":300,\"age\":0,\"tx_speed\":" +
			  list("0.00", HISTORY_DAY) + ",\"rx_speed\":" + list("0.00", HISTORY_DAY) + "}");
	EXPECT_EQ(reply_json("{\"interface1\": 2}", at(87402)),
		  "{\"interface1\":2,\"range\":\"recent\",\"interval\":1,\"age\":3,\"tx_speed\":" +
			  list("1.50", HISTORY_RECENT) + ",\"rx_speed\":" + list("2.50", HISTORY_RECENT) + "}");
}

/* Resident pages of the reply storage's whole pages, as mincore sees them. */
int resident_reply_pages()
{
	uintptr_t page = (uintptr_t)getpagesize();
	uintptr_t from = ((uintptr_t)rpc_buf.buf + page - 1) & ~(page - 1);
	uintptr_t end = ((uintptr_t)rpc_buf.buf + rpc_buf.buflen) & ~(page - 1);
	unsigned char in[64] = {};
	int n = 0;

	if (end <= from || mincore((void *)from, end - from, in) != 0)
		return -1;
	for (uintptr_t i = 0; i < (end - from) / page; i++)
		n += in[i] & 1;
	return n;
}

/* A day's reply, once sent, gives its pages back; the replies after it are whole. */
TEST_F(HistoryReply, SentReplyGivesItsPagesBack)
{
	fill_day();
	std::string recent = reply_json("{\"interface1\": 2}", at(87402));
	std::string day = reply_json("{\"interface1\": 9, \"range\": \"day\"}", at(87420));
	ASSERT_GT(resident_reply_pages(), 0);
	rpc_reply_release();
	EXPECT_EQ(resident_reply_pages(), 0);
	EXPECT_EQ(reply_json("{\"interface1\": 9, \"range\": \"day\"}", at(87420)), day);
	rpc_reply_release();
	EXPECT_EQ(reply_json("{\"interface1\": 2}", at(87402)), recent);
}

} // namespace
