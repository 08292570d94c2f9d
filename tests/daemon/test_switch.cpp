#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/log.h"
#include "stats/switch_stat.h"
#include "switch_fixture.h"

namespace {

class Switch : public SwitchSimTest {};

std::vector<unsigned char> unhex(const std::string &hex)
{
	std::vector<unsigned char> out;
	for (size_t i = 0; i + 1 < hex.size(); i += 2)
		out.push_back((unsigned char)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
	return out;
}

TEST_F(Switch, RequestBlockAsTheDriverSeesIt)
{
	log_requests();
	ASSERT_NE(get_curr_port_stat_data("eth1", 3), nullptr);
	std::string log = read_file(kSwitchLog);
	ASSERT_EQ(log.compare(0, 24, "port=3 ifr_name=eth1 blo"), 0) << log;
	std::vector<unsigned char> block = unhex(log.substr(log.find("block=") + 6));
	ASSERT_EQ(block.size(), (size_t)PORT_REQ_SIZE);

	uint32_t cmd;
	uint16_t port;
	memcpy(&cmd, &block[0], 4);
	memcpy(&port, &block[22], 2);
	EXPECT_EQ(cmd, 0x89F30005u);
	EXPECT_EQ(port, 3);
	EXPECT_EQ(memcmp(&block[4], "eth1\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
	for (size_t i = 20; i < block.size(); i++) {
		if (i != 22 && i != 23) {
			EXPECT_EQ(block[i], 0) << "offset " << i;
		}
	}
}

TEST_F(Switch, RepliesAccumulate)
{
	script(2, "tx_packets=100 rx_packets=7 tx_bytes=1000 rx_bytes=70\n"
		  "tx_pkt0=10 tx_pkt1=10 tx_pkt2=10 tx_pkt3=10 tx_pkt4=5 tx_pkt5=5\n"
		  "\n");
	struct port_stat *st = get_curr_port_stat_data("eth1", 2);
	ASSERT_EQ(st, &switch_stat_data[2]);
	EXPECT_EQ(st->tx_packets, 100u);
	EXPECT_EQ(st->rx_packets, 7u);
	EXPECT_EQ(st->tx_bytes, 1000u);
	EXPECT_EQ(st->rx_bytes, 70u);
	get_curr_port_stat_data("eth1", 2);
	EXPECT_EQ(st->tx_packets, 150u);
	get_curr_port_stat_data("eth1", 2); /* all zeros */
	EXPECT_EQ(st->tx_packets, 150u);
	EXPECT_EQ(st->rx_packets, 7u);
	EXPECT_EQ(st->tx_bytes, 1000u);
	EXPECT_EQ(st->rx_bytes, 70u);
	for (int p : { 0, 1, 3, 4 })
		EXPECT_EQ(switch_stat_data[p].tx_packets, 0u);
}

TEST_F(Switch, WordArithmetic)
{
	script(1, "rx_pkt0=0x80000000 rx_pkt1=0x80000000 rx_pkt5=5 "
		  "tx_pkt0=0xffffffff tx_pkt2=0xffffffff tx_pkt4=3 "
		  "rx_bytes_hi=1 rx_bytes_lo=2 tx_bytes_hi=0 tx_bytes_lo=0x80000000\n");
	struct port_stat *st = get_curr_port_stat_data("eth1", 1);
	EXPECT_EQ(st->rx_packets, 5u);          /* summed modulo 2^32 */
	EXPECT_EQ(st->tx_packets, 1u);
	EXPECT_EQ(st->rx_bytes, 4294967298ull); /* high word times 2^32 plus low word */
	EXPECT_EQ(st->tx_bytes, 2147483648ull); /* the low word is unsigned */
}

TEST_F(Switch, TotalsWrapAt64Bits)
{
	switch_stat_data[0].rx_bytes = UINT64_MAX;
	script(0, "rx_bytes_lo=2\n");
	get_curr_port_stat_data("eth1", 0);
	EXPECT_EQ(switch_stat_data[0].rx_bytes, 1u);
}

TEST_F(Switch, InvalidArguments)
{
	log_requests();
	for (int port : { 5, -1, 44, -56 }) {
		struct port_stat *st = (struct port_stat *)1;
		std::string err = capture_stderr([&] { st = get_curr_port_stat_data("eth1", port); });
		EXPECT_EQ(st, nullptr);
		EXPECT_EQ(err.rfind("get_curr_port_stat_data: Invalid argument!\n: ", 0), 0u) << err;
	}
	std::string err = capture_stderr([] { EXPECT_EQ(get_curr_port_stat_data(nullptr, 1), nullptr); });
	EXPECT_NE(err.find("Invalid argument!"), std::string::npos);
	EXPECT_EQ(read_file(kSwitchLog), "");
}

TEST_F(Switch, FailedRequestPrintsAndKeepsTotals)
{
	switch_stat_data[4].tx_bytes = 77;
	script(4, "fail\n");
	set_log_level(0); /* the report does not depend on the level */
	struct port_stat *st = nullptr;
	std::string out = capture_stdout([&] { st = get_curr_port_stat_data("eth1", 4); });
	EXPECT_EQ(out, "do eth ioctl failed: ifname = eth1, port no = 4\n");
	EXPECT_EQ(st, &switch_stat_data[4]);
	EXPECT_EQ(st->tx_bytes, 77u);

	setenv("SWITCHSIM_FAIL", "1", 1);
	out = capture_stdout([&] { st = get_curr_port_stat_data("eth1", 2); });
	EXPECT_EQ(out, "do eth ioctl failed: ifname = eth1, port no = 2\n");
	EXPECT_EQ(st, &switch_stat_data[2]);
}

TEST_F(Switch, RealInterfaceTraffic)
{
	REQUIRE_VETH("sw-a", "sw-b");
	setenv("SWITCHSIM_PORT3", "iface:sw-a", 1);
	ASSERT_EQ(send_frames("sw-a", 10, 100), 10);
	get_curr_port_stat_data("eth1", 3);
	ASSERT_EQ(send_frames("sw-a", 5, 60), 5);
	get_curr_port_stat_data("eth1", 3);
	kernel_counters k;
	ASSERT_TRUE(kernel_counters_of("sw-a", &k));
	EXPECT_EQ(k.tx_bytes, 1300u);
	EXPECT_EQ(switch_stat_data[3].tx_bytes, k.tx_bytes);
	EXPECT_EQ(switch_stat_data[3].tx_packets, 15u);
	EXPECT_EQ(switch_stat_data[3].rx_bytes, k.rx_bytes);
}

TEST_F(Switch, InitClearsTotals)
{
	write_router_config();
	switch_stat_data[3].tx_bytes = 5;
	switch_stat_data[0].rx_packets = 6;
	switch_stat_init();
	for (const struct port_stat &st : switch_stat_data)
		EXPECT_EQ(st.tx_bytes + st.rx_bytes + st.tx_packets + st.rx_packets, 0u);
}

TEST_F(Switch, PortMapFromConfiguration)
{
	struct {
		const char *lan0, *lan1;
		int8_t want[4];
	} cases[] = {
		{ "4", "3", { 0, 4, 1, 3 } },
		{ "4", "", { 0, 4, 0, 0 } },
		{ "abc", "3", { 0, 0, 1, 3 } },
		{ "300", "200", { 0, 44, 1, -56 } },
		{ " +2x", "-1", { 0, 2, 1, -1 } },
	};
	for (auto &c : cases) {
		reset_daemon_state();
		write_router_config(c.lan0, c.lan1);
		capture_stdout([] { switch_stat_init(); });
		for (int i = 0; i < 4; i++)
			EXPECT_EQ(l_ppmap[i], c.want[i]) << c.lan0 << "/" << c.lan1 << " byte " << i;
	}
}

} // namespace
