// Random config files, valid and broken, against the model of the file
// rules in config_model.h: `uci export` and `uci show` output, error text
// and exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config_model.h"
#include "uci_test_util.h"

using namespace ucitest;
using namespace ucimodel;

namespace {

TEST(Generated, ExportShowAndErrorsMatchTheModel)
{
	const int kFiles = 400;
	TempDir d;
	std::string want_export, want_show, want_err;
	std::vector<std::string> broken;
	for (int i = 0; i < kFiles; i++) {
		char name[8];
		snprintf(name, sizeof(name), "g%03d", i);
		Gen g(Source(1000u + (unsigned)i));
		g.file(i % 3 == 0);
		write_file(d.conf_file(name), g.text);
		if (!g.error.empty()) {
			want_err += "uci: Parse error (" + g.error + "\n";
			broken.push_back(name);
			continue;
		}
		want_export += g.m.exported(name);
		want_show += g.m.shown(name);
	}
	RunResult ex = run_uci({ "-c", d.conf(), "export" });
	RunResult sh = run_uci({ "-c", d.conf(), "show" });
	// Names the file where the outputs part and shows its text.
	auto first_diff = [&](const std::string &a, const std::string &b) {
		size_t i = 0;
		while (i < a.size() && i < b.size() && a[i] == b[i])
			i++;
		size_t from = i > 200 ? i - 200 : 0;
		size_t at = a.rfind("g", i);
		std::string pkg = at == std::string::npos ? "" : a.substr(at, 4);
		std::string text, shown;
		if (pkg.size() == 4)
			text = read_file(d.conf_file(pkg));
		for (char c : text)
			shown += c == '\n' ? std::string("\\n\n") : c == '\t' ? std::string("\\t") : c == 0 ? std::string("\\0") : std::string(1, c);
		return "first difference at byte " + std::to_string(i) + " near " + pkg + ":\n" + shown +
		       "\nwant: " + a.substr(from, 300) + "\ngot:  " + b.substr(from, 300);
	};
	EXPECT_EQ(ex.status, 0);
	EXPECT_TRUE(ex.out == want_export) << first_diff(want_export, ex.out);
	EXPECT_TRUE(ex.err == want_err) << first_diff(want_err, ex.err);
	EXPECT_EQ(sh.status, 0);
	EXPECT_TRUE(sh.out == want_show) << first_diff(want_show, sh.out);
	EXPECT_TRUE(sh.err == want_err) << first_diff(want_err, sh.err);
	ASSERT_GT(broken.size(), 60u);
	ASSERT_GT(kFiles - broken.size(), 200u);
	// One broken package alone fails with exit code 1.
	RunResult one = run_uci({ "-c", d.conf(), "export", broken[0] });
	EXPECT_EQ(one.status, 1);
	EXPECT_EQ(one.out, "");
	EXPECT_EQ(one.err.rfind("uci: Parse error (", 0), 0u);
	printf("%d generated files, %zu broken: export, show and errors as the model predicts\n", kFiles,
	       broken.size());
}

} // namespace
