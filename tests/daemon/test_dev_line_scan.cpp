#include <gtest/gtest.h>

#include <random>
#include <string>

#include "dev_line_reference.h"

namespace {

void expect_same(const std::string &line)
{
	const char *why = dev_line_mismatch(line.c_str());
	EXPECT_EQ(why, nullptr) << "line: \"" << line << "\"";
}

TEST(DevLineScan, KernelShapes)
{
	expect_same("    lo:       0       0    0    0    0     0          0         0        0       0    0    0    0     0       0          0\n");
	expect_same("  eth0: 100 2 0 0 0 0 0 0 300 4 0 0 0 0 0 0\n");
	expect_same("veth-lan0: 18446744073709551615 1 2 3 4 5 6 7 18446744073709551615 9 1 2 3 4 5 6\n");
	expect_same("eth0:123 2 0 0 0 0 0 0 300 4 0 0 0 0 0 0\n");
	expect_same("eth0 1 2 3 4 5 6 7 8 9 10\n");
}

TEST(DevLineScan, ShortAndEmptyLines)
{
	for (const char *s : { "", "\n", " \t\r\v\f\n", "eth0:", "eth0: 1", "eth0: 1 2", "eth0: 1 2 3 4 5 6 7 8",
			       "eth0: 1 2 3 4 5 6 7 8 9", "eth0: 1 2 3 4 5 6 7 8 9 10", "x" })
		expect_same(s);
}

TEST(DevLineScan, SignsOverflowAndJunk)
{
	const char *nums[] = { "-1", "+1", "-0", "+0", "--1", "+-1", "-", "+", "18446744073709551615",
			       "18446744073709551616", "99999999999999999999999", "-18446744073709551615",
			       "-18446744073709551616", "-99999999999999999999", "0x10", "007", "1a", "a1",
			       "1.5", "\xff", "1e3", "184467440737095516150" };
	for (const char *n : nums) {
		for (int pos : { 0, 1, 2, 8, 9 }) {
			std::string line = "eth0:";
			for (int i = 0; i < 16; i++)
				line += std::string(" ") + (i == pos ? n : std::to_string(i + 1));
			expect_same(line + "\n");
		}
	}
}

TEST(DevLineScan, NameLengths)
{
	for (size_t len : { 1, 62, 63, 64, 65, 200, 300 })
		expect_same(std::string(len, 'n') + " 1 2 3 4 5 6 7 8 9 10\n");
	expect_same("\t\t" + std::string(63, 'q'));
	expect_same(std::string(64, 'q'));
}

/* Random lines over the characters that matter to the format. */
TEST(DevLineScan, RandomLinesAgreeWithSscanf)
{
	static const char alphabet[] = " \t\n\v\f\r+-0123456789999:ea\xff\x80.";
	std::mt19937_64 rng(0x5eed);
	std::uniform_int_distribution<size_t> pick(0, sizeof(alphabet) - 2);
	std::uniform_int_distribution<int> length(0, 120);
	int mismatches = 0;

	for (int n = 0; n < 200000 && mismatches < 10; n++) {
		std::string line;
		int len = length(rng);
		for (int i = 0; i < len; i++)
			line += alphabet[pick(rng)];
		const char *why = dev_line_mismatch(line.c_str());
		if (why) {
			ADD_FAILURE() << why << " for \"" << line << "\"";
			mismatches++;
		}
	}
}

/* Well-formed lines with random big, signed and spaced numbers. */
TEST(DevLineScan, RandomNumbersAgreeWithSscanf)
{
	std::mt19937_64 rng(42);
	const char *ws[] = { " ", "  ", "\t", " \t ", "\n", "" };
	int mismatches = 0;

	for (int n = 0; n < 50000 && mismatches < 10; n++) {
		std::string line = "eth" + std::to_string(n % 7) + ":";
		int count = (int)(rng() % 17);
		for (int i = 0; i < count; i++) {
			line += ws[rng() % 6];
			if (rng() % 8 == 0)
				line += (rng() & 1) ? "-" : "+";
			unsigned digits = 1 + (unsigned)(rng() % 24);
			for (unsigned d = 0; d < digits; d++)
				line += (char)('0' + rng() % 10);
		}
		const char *why = dev_line_mismatch(line.c_str());
		if (why) {
			ADD_FAILURE() << why << " for \"" << line << "\"";
			mismatches++;
		}
	}
}

} // namespace
