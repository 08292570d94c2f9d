/* Whole passes over the kernel's real /proc/net/dev and the switch stand-in. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stats/dev_stat.h"
#include "stats/interface_list.h"
#include "stats/switch_stat.h"
#include "switch_fixture.h"

namespace {

class Sampling : public SwitchSimTest {
protected:
	void SetUp() override
	{
		SwitchSimTest::SetUp();
		if (!set_up())
			return;
		log_requests();
		/* lan0 on switch port 4, lan1 on port 3, as the router ships */
		l_ppmap[0] = 0;
		l_ppmap[1] = 4;
		l_ppmap[2] = 1;
		l_ppmap[3] = 3;
		strcpy(slot_at(0).ifname, "lan0");
		strcpy(slot_at(1).ifname, "lan1");
	}

	/* Switch ports requested so far, in order. */
	std::string ports_read()
	{
		std::string log = read_file(kSwitchLog), out;
		for (size_t at = log.find("port="); at != std::string::npos; at = log.find("port=", at + 1))
			out += log.substr(at + 5, 1);
		return out;
	}

	void pass_quietly()
	{
		std::string out = capture_stdout([] { parse_dev_proc(); });
		EXPECT_EQ(out, "");
	}
};

TEST_F(Sampling, KernelCountersOfRealTraffic)
{
	REQUIRE_VETH("vlan-a", "vlan-b");
	strcpy(slot_at(9).ifname, "vlan-b");
	strcpy(slot_at(3).ifname, "vlan-a"); /* disabled slot: never updated */
	ASSERT_EQ(send_frames("vlan-a", 4, 250), 4);

	pass_quietly();
	struct interface_info *br = &slot_at(9);
	EXPECT_EQ(br->rx_bytes, 1000u);
	EXPECT_EQ(br->rx_packets, 4u);
	EXPECT_EQ(br->tx_bytes, 0u);
	EXPECT_EQ(br->tx_speed, 0.0);
	EXPECT_EQ(br->rx_speed, 0.0);
	EXPECT_GT(br->curr_time.tv_sec + br->curr_time.tv_usec, 0);
	EXPECT_EQ(slot_at(3).rx_bytes + slot_at(3).tx_bytes, 0u);
	EXPECT_EQ(slot_at(3).curr_time.tv_sec, 0);

	ASSERT_EQ(send_frames("vlan-a", 10, 1000), 10);
	usleep(20000);
	pass_quietly();
	EXPECT_EQ(br->rx_bytes, 11000u);
	EXPECT_EQ(br->rx_packets, 14u);
	EXPECT_EQ(br->last_rx_bytes, 1000u);
	int32_t ms = timeval_diff(br->curr_time, br->last_time);
	ASSERT_GT(ms, 0);
	EXPECT_DOUBLE_EQ(br->rx_speed, (80000.0 / 1.024) / ms);
	EXPECT_EQ(br->tx_speed, 0.0);
}

TEST_F(Sampling, WiredSlotsFollowTheSwitch)
{
	script(4, "tx_bytes=1000 rx_bytes=2000 tx_packets=1 rx_packets=2\n"
		  "tx_bytes=1280 rx_bytes=0 tx_packets=1 rx_packets=0\n");
	script(3, "tx_bytes=500 rx_bytes=500\ntx_bytes=128 rx_bytes=256\n");
	pass_quietly();
	EXPECT_EQ(slot_at(0).tx_bytes, 1000u);
	EXPECT_EQ(slot_at(0).rx_packets, 2u);
	EXPECT_EQ(slot_at(1).rx_bytes, 500u);
	usleep(10000);
	pass_quietly();
	EXPECT_EQ(ports_read(), "4343");
	EXPECT_EQ(slot_at(0).tx_bytes, 2280u);
	EXPECT_EQ(slot_at(0).tx_packets, 2u);
	int32_t ms0 = timeval_diff(slot_at(0).curr_time, slot_at(0).last_time);
	ASSERT_GT(ms0, 0);
	EXPECT_DOUBLE_EQ(slot_at(0).tx_speed, (10240.0 / 1.024) / ms0);
	EXPECT_EQ(slot_at(0).rx_speed, 0.0);
	EXPECT_GT(slot_at(1).rx_speed, 0.0);
	/* slot 2 carries the sums and nothing else */
	EXPECT_EQ(slot_at(2).tx_speed, slot_at(0).tx_speed + slot_at(1).tx_speed);
	EXPECT_EQ(slot_at(2).rx_speed, slot_at(0).rx_speed + slot_at(1).rx_speed);
	EXPECT_EQ(slot_at(2).tx_bytes, 0u);
	EXPECT_EQ(slot_at(2).curr_time.tv_sec, 0);
}

TEST_F(Sampling, DisabledFirstWiredSlotEndsTheLoop)
{
	script(4, "tx_bytes=10\n");
	script(3, "tx_bytes=30\n");
	slot_at(1).tx_speed = 2.5;
	slot_at(0).enable = 0;
	pass_quietly();
	EXPECT_EQ(ports_read(), "4");
	EXPECT_EQ(switch_stat_data[4].tx_bytes, 10u); /* read all the same */
	EXPECT_EQ(slot_at(0).tx_bytes, 0u);
	EXPECT_EQ(slot_at(1).tx_bytes, 0u);
	EXPECT_EQ(slot_at(1).curr_time.tv_sec, 0);
	EXPECT_EQ(slot_at(2).tx_speed, 2.5);
}

TEST_F(Sampling, MissingWiredSlotEndsTheLoop)
{
	strcpy(slot_at(0).ifname, "eth0.1");
	pass_quietly();
	EXPECT_EQ(ports_read(), "4");
	EXPECT_EQ(slot_at(1).curr_time.tv_sec, 0);
}

TEST_F(Sampling, PortOutsideTheSwitchIsPassedOver)
{
	l_ppmap[1] = 44; /* configured as 300 */
	script(3, "tx_bytes=30\n");
	std::string err = capture_stderr([this] { pass_quietly(); });
	EXPECT_EQ(err.rfind("get_curr_port_stat_data: Invalid argument!\n", 0), 0u) << err;
	EXPECT_EQ(ports_read(), "3");
	EXPECT_EQ(slot_at(0).curr_time.tv_sec, 0);
	EXPECT_EQ(slot_at(1).tx_bytes, 30u);
	for (const struct port_stat &st : switch_stat_data)
		EXPECT_EQ(st.rx_bytes + st.rx_packets + st.tx_packets, 0u);
}

TEST_F(Sampling, FailedSwitchRequestZeroesSpeeds)
{
	script(4, "tx_bytes=1000 rx_bytes=1000\ntx_bytes=1024 rx_bytes=1024\n");
	pass_quietly();
	usleep(5000);
	pass_quietly();
	ASSERT_GT(slot_at(0).tx_speed, 0.0);
	setenv("SWITCHSIM_FAIL", "1", 1);
	usleep(5000);
	std::string out = capture_stdout([] { parse_dev_proc(); });
	EXPECT_EQ(out, "do eth ioctl failed: ifname = eth1, port no = 4\n"
		       "do eth ioctl failed: ifname = eth1, port no = 3\n");
	EXPECT_EQ(slot_at(0).tx_bytes, 2024u);
	EXPECT_EQ(slot_at(0).tx_speed, 0.0);
	EXPECT_EQ(slot_at(0).rx_speed, 0.0);
	EXPECT_EQ(slot_at(2).tx_speed, slot_at(1).tx_speed);
}

/*
 * Procfs serves /proc/net/dev per process, so a bind mount over it does not
 * take; a tmpfs over all of /proc, private to this test's mount namespace,
 * lets a pass read file shapes the kernel never writes.
 */
struct FakeProc {
	bool mounted;
	explicit FakeProc(const std::string &dev)
	{
		mounted = mount("tmpfs", "/proc", "tmpfs", 0, nullptr) == 0;
		if (mounted) {
			mkdir("/proc/net", 0755);
			write_file("/proc/net/dev", dev);
		}
	}
	~FakeProc()
	{
		if (mounted)
			umount("/proc");
	}
};

const char HEADERS[] =
	"Inter-|   Receive                                                |  Transmit\n"
	" face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n";

TEST_F(Sampling, HeadersOnlyStillUpdatesTheWiredSlots)
{
	strcpy(slot_at(9).ifname, "eth0");
	script(4, "tx_bytes=10\n");
	script(3, "tx_bytes=30\n");
	slot_at(0).tx_speed = 1.5;
	slot_at(1).tx_speed = 2.0;
	{
		FakeProc proc(HEADERS);
		ASSERT_TRUE(proc.mounted);
		pass_quietly();
	}
	EXPECT_EQ(slot_at(9).curr_time.tv_sec, 0);
	EXPECT_EQ(slot_at(0).tx_bytes, 10u);
	EXPECT_EQ(slot_at(1).tx_bytes, 30u);
	EXPECT_EQ(slot_at(2).tx_speed, 3.5);
}

TEST_F(Sampling, LongLinesArriveInPieces)
{
	strcpy(slot_at(9).ifname, "eth0");
	strcpy(slot_at(0).ifname, "ath0"); /* the wired loop ends at once */
	/* 5 + 12 * 21 = 257 characters, then the 13th number is cut after 7 of its digits */
	std::string line = "eth0:";
	for (int i = 1; i <= 16; i++) {
		char num[24];
		snprintf(num, sizeof(num), " %020d", i);
		line += num;
	}
	std::string out;
	{
		FakeProc proc(std::string(HEADERS) + line + "\n" + "  ath0: 1 2 0 0 0 0 0 0 3 4 0 0 0 0 0 0");
		ASSERT_TRUE(proc.mounted);
		out = without_lines(capture_stdout([] { parse_dev_proc(); }));
	}
	/* the first piece is a line of its own; the rest has too few numbers */
	EXPECT_EQ(slot_at(9).rx_bytes, 1u);
	EXPECT_EQ(slot_at(9).rx_packets, 2u);
	EXPECT_EQ(slot_at(9).tx_bytes, 9u);
	EXPECT_EQ(slot_at(9).tx_packets, 10u);
	EXPECT_EQ(out, "[ERROR] parse_dev_stat_line(N) : Parse data from proc file failed\n");
	/* the line after it is read whole, though the file ends without a newline */
	EXPECT_EQ(slot_at(0).tx_bytes, 3u);
	EXPECT_EQ(slot_at(0).rx_packets, 2u);
}

TEST_F(Sampling, UnreadableFileChangesNothing)
{
	script(4, "tx_bytes=1000\n");
	slot_at(2).tx_speed = 9.0;
	ASSERT_EQ(mount("tmpfs", "/proc", "tmpfs", 0, nullptr), 0);
	std::string out = without_lines(capture_stdout([] { parse_dev_proc(); }));
	umount("/proc");
	EXPECT_EQ(out, "[ERROR] parse_dev_proc(N) : open dev stat file failed\n");
	EXPECT_EQ(ports_read(), "");
	EXPECT_EQ(slot_at(0).tx_bytes, 0u);
	EXPECT_EQ(slot_at(2).tx_speed, 9.0);
}

} // namespace
