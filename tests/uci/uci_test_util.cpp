#include "uci_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ucitest {

const char *const kNetSample =
	"# sample\n"
	"config interface 'lan'\n"
	"\toption ifname 'eth0'\n"
	"\toption proto static\n"
	"\tlist dns '8.8.8.8'\n"
	"\tlist dns \"1.1.1.1\"\n"
	"\n"
	"config interface wan\n"
	"\toption ifname eth1\n"
	"\n"
	"config switch\n"
	"\toption name 'switch0'\n"
	"\n"
	"config switch\n"
	"\toption name switch1\n"
	"\tlist ports '0 1 2'\n"
	"\tlist ports 3\n";

static void remove_tree(const std::string &path)
{
	struct stat st;
	if (lstat(path.c_str(), &st) != 0)
		return;
	if (S_ISDIR(st.st_mode)) {
		for (const std::string &n : list_dir(path))
			remove_tree(path + "/" + n);
		rmdir(path.c_str());
	} else {
		unlink(path.c_str());
	}
}

std::string tmp_dir()
{
	const char *t = getenv("TMPDIR");
	return t && *t ? t : "/tmp";
}

TempDir::TempDir()
{
	std::string tmpl = tmp_dir() + "/uci-test-XXXXXX";
	if (!mkdtemp(&tmpl[0]))
		abort();
	path_ = tmpl;
	mkdir(conf().c_str(), 0755);
	mkdir(save().c_str(), 0700);
}

TempDir::~TempDir()
{
	remove_tree(path_);
}

void write_file(const std::string &path, const std::string &content)
{
	FILE *f = fopen(path.c_str(), "wb");
	if (!f)
		abort();
	fwrite(content.data(), 1, content.size(), f);
	fclose(f);
}

std::string read_file(const std::string &path)
{
	std::string s;
	FILE *f = fopen(path.c_str(), "rb");
	if (!f)
		return s;
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
		s.append(buf, n);
	fclose(f);
	return s;
}

bool file_exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string &dir)
{
	std::vector<std::string> names;
	DIR *d = opendir(dir.c_str());
	if (!d)
		return names;
	while (struct dirent *e = readdir(d)) {
		if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
			names.push_back(e->d_name);
	}
	closedir(d);
	return names;
}

struct uci_context *context_for(const TempDir &d)
{
	struct uci_context *ctx = uci_alloc_context();
	if (!ctx)
		abort();
	uci_set_confdir(ctx, d.conf().c_str());
	uci_set_savedir(ctx, d.save().c_str());
	return ctx;
}

static void escaped(std::string &out, const char *s)
{
	out += '"';
	for (; *s; s++) {
		unsigned char c = (unsigned char)*s;
		switch (c) {
		case '\n': out += "\\n"; break;
		case '\t': out += "\\t"; break;
		case '\r': out += "\\r"; break;
		case '\\': out += "\\\\"; break;
		case '"': out += "\\\""; break;
		default:
			if (c < 0x20 || c >= 0x7f) {
				char b[8];
				snprintf(b, sizeof(b), "\\x%02x", c);
				out += b;
			} else {
				out += (char)c;
			}
		}
	}
	out += '"';
}

std::string dump_package(struct uci_package *p)
{
	std::string out;
	struct uci_element *se, *oe, *ie;
	uci_foreach_element(&p->sections, se) {
		struct uci_section *s = uci_to_section(se);
		out += s->e.name;
		out += s->anonymous ? " (anonymous) " : " ";
		escaped(out, s->type);
		out += '\n';
		uci_foreach_element(&s->options, oe) {
			struct uci_option *o = uci_to_option(oe);
			out += "\t";
			out += o->e.name;
			if (o->type == UCI_TYPE_STRING) {
				out += " = ";
				escaped(out, o->v.string);
			} else {
				out += " = [";
				bool first = true;
				uci_foreach_element(&o->v.list, ie) {
					if (!first)
						out += ", ";
					first = false;
					escaped(out, ie->name);
				}
				out += "]";
			}
			out += '\n';
		}
	}
	return out;
}

std::string error_text(struct uci_context *ctx, const char *prefix)
{
	char *s = nullptr;
	uci_get_errorstr(ctx, &s, prefix);
	std::string r = s ? s : "";
	free(s);
	return r;
}

static std::string drain(int fd)
{
	std::string s;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		s.append(buf, (size_t)n);
	return s;
}

void exec_uci(const std::vector<std::string> &args)
{
	std::vector<char *> argv;
	argv.push_back(const_cast<char *>("uci"));
	for (const std::string &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	execv(UCI_CLI_PATH, argv.data());
	_exit(127);
}

RunResult run_uci(const std::vector<std::string> &args, const std::string &stdin_text)
{
	// Files instead of pipes: no deadlock whatever the output size.
	std::string o = tmp_dir() + "/uci-out-XXXXXX", e = tmp_dir() + "/uci-err-XXXXXX", i = tmp_dir() + "/uci-in-XXXXXX";
	char *outp = &o[0], *errp = &e[0], *inp = &i[0];
	int ofd = mkstemp(outp), efd = mkstemp(errp), ifd = mkstemp(inp);
	if (write(ifd, stdin_text.data(), stdin_text.size()) != (ssize_t)stdin_text.size())
		abort();
	lseek(ifd, 0, SEEK_SET);
	pid_t pid = fork();
	if (pid == 0) {
		dup2(ifd, 0);
		dup2(ofd, 1);
		dup2(efd, 2);
		exec_uci(args);
	}
	int st = 0;
	waitpid(pid, &st, 0);
	RunResult r;
	r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
	lseek(ofd, 0, SEEK_SET);
	lseek(efd, 0, SEEK_SET);
	r.out = drain(ofd);
	r.err = drain(efd);
	close(ofd);
	close(efd);
	close(ifd);
	unlink(outp);
	unlink(errp);
	unlink(inp);
	return r;
}

std::vector<std::string> uci_args_in(const TempDir &d, const std::vector<std::string> &args)
{
	std::vector<std::string> all = { "-c", d.conf(), "-t", d.save() };
	all.insert(all.end(), args.begin(), args.end());
	return all;
}

RunResult run_uci_in(const TempDir &d, const std::vector<std::string> &args)
{
	return run_uci(uci_args_in(d, args));
}

} // namespace ucitest
