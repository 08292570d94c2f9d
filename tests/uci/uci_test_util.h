// Helpers for the uci tests: scratch directories, files, running the tool.
#pragma once

#include <string>
#include <vector>

#include <uci.h>

namespace ucitest {

// TMPDIR, or /tmp where it is not set.
std::string tmp_dir();

// A fresh directory under tmp_dir() with "conf" and "save" inside; removed at exit.
class TempDir {
public:
	TempDir();
	~TempDir();
	TempDir(const TempDir &) = delete;
	TempDir &operator=(const TempDir &) = delete;

	const std::string &path() const { return path_; }
	std::string conf() const { return path_ + "/conf"; }
	std::string save() const { return path_ + "/save"; }
	std::string conf_file(const std::string &pkg) const { return conf() + "/" + pkg; }
	std::string save_file(const std::string &pkg) const { return save() + "/" + pkg; }

private:
	std::string path_;
};

void write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
std::vector<std::string> list_dir(const std::string &dir);

// A context reading conf/ and saving to save/ of the given directory.
struct uci_context *context_for(const TempDir &d);

// Tree dump with every value in C-escaped double quotes, one line per element.
std::string dump_package(struct uci_package *p);

// The context's current error text with the given prefix.
std::string error_text(struct uci_context *ctx, const char *prefix = nullptr);

struct RunResult {
	int status;
	std::string out;
	std::string err;
};

// Replaces the calling (child) process by the built uci tool, named "uci",
// with the arguments; no shell involved.
[[noreturn]] void exec_uci(const std::vector<std::string> &args);

// Runs the tool in a child with the given input and collects its output.
RunResult run_uci(const std::vector<std::string> &args, const std::string &stdin_text = "");

// The arguments with "-c conf -t save" of d put in front.
std::vector<std::string> uci_args_in(const TempDir &d, const std::vector<std::string> &args);

// Runs the tool with uci_args_in(d, args).
RunResult run_uci_in(const TempDir &d, const std::vector<std::string> &args);

extern const char *const kNetSample;

} // namespace ucitest
