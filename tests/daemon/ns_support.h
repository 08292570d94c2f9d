#ifndef VELOXD_TEST_NS_SUPPORT_H
#define VELOXD_TEST_NS_SUPPORT_H

#include <stdint.h>
#include <stdlib.h>

#include <functional>
#include <string>

/*
 * Move this test process into private mount and network namespaces, once:
 * /tmp becomes an empty tmpfs, /etc and /var get a writable overlay with
 * empty /etc/config and /var/state, IPv6 is off so nothing but the frames a
 * test sends moves the counters. Returns an empty string, or why it failed.
 */
std::string enter_test_namespaces();

#define REQUIRE_NAMESPACES()                                                   \
	do {                                                                   \
		std::string why_ = enter_test_namespaces();                    \
		if (!why_.empty())                                             \
			GTEST_SKIP() << "namespaces unavailable: " << why_;    \
	} while (0)

void write_file(const std::string &path, const std::string &text);
std::string read_file(const std::string &path);

/* Output that fn writes to standard output (or standard error). */
std::string capture_stdout(const std::function<void()> &fn);
std::string capture_stderr(const std::function<void()> &fn);

/* A veth pair, both ends up. Returns 0 or -errno. */
int make_veth(const char *a, const char *b);

/*
 * Under user-mode emulation (VELOXD_TEST_EMULATED names the emulator) the
 * netlink request for a pair is not carried through, nor its error number.
 */
#define REQUIRE_VETH(a, b)                                                     \
	do {                                                                   \
		int err_ = make_veth(a, b);                                    \
		const char *emu_ = getenv("VELOXD_TEST_EMULATED");             \
		if (err_ != 0 && emu_)                                         \
			GTEST_SKIP() << "no veth pairs under " << emu_;        \
		ASSERT_EQ(err_, 0);                                            \
	} while (0)
/* count broadcast frames of size bytes out of ifname. Returns frames sent. */
int send_frames(const char *ifname, int count, int size);

/* Counters of one interface as the kernel shows them in /proc/net/dev. */
struct kernel_counters {
	uint64_t rx_bytes, rx_packets, tx_bytes, tx_packets;
};
bool kernel_counters_of(const char *ifname, kernel_counters *out);

#endif
