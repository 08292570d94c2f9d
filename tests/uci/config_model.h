// A model of the config file rules and a generator of random config files,
// valid and broken, that predicts how each one loads: the export text of
// the tree, or the exact parse error, line and byte of its one fault.
// The generator knows what each statement means and renders it in a random
// legal spelling (quoting, escapes, continuations, ';', CR LF, comments,
// abbreviations). Used by the generated-files test and a fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace ucimodel {

struct Opt {
	std::string name;
	bool list;
	std::vector<std::string> v; // one item for a string option
};

struct Sec {
	std::string name, type;
	bool anon;
	std::vector<Opt> opts;
};

struct Model {
	std::vector<Sec> secs;
	size_t cur = 0;
	int n_section = 0;

	static std::string hex(unsigned v, int min)
	{
		char b[16];
		snprintf(b, sizeof(b), "%0*x", min, v);
		return b;
	}
	void config(const std::string &type, const std::string &name)
	{
		for (size_t i = 0; i < secs.size() && !name.empty(); i++)
			if (secs[i].name == name)
				return (void)(cur = i);
		cur = secs.size();
		n_section++;
		if (!name.empty()) {
			secs.push_back({ name, type, false, {} });
			return;
		}
		uint32_t h = 5381;
		for (unsigned char c : type)
			h = h * 33 + c;
		secs.push_back({ "cfg" + hex(n_section, 2) + hex((h & 0x7fffffff) & 0xffff, 4), type, true, {} });
	}
	// An option line with no value or an empty one states nothing: no option
	// made, an earlier value kept. A list line appends even an empty item.
	void option(const std::string &n, const std::string &v, bool list)
	{
		if (!list && v.empty())
			return;
		Sec &s = secs[cur];
		for (Opt &o : s.opts) {
			if (o.name != n)
				continue;
			if (list) {
				o.list = true;
				o.v.push_back(v);
			} else {
				o.list = false;
				o.v = { v };
			}
			return;
		}
		s.opts.push_back({ n, list, { v } });
	}
	static std::string q(const std::string &v)
	{
		std::string r = "'";
		for (char c : v)
			r += c == '\'' ? std::string("'\\''") : std::string(1, c);
		return r + "'";
	}
	std::string exported(const std::string &pkg) const
	{
		std::string r = "package " + pkg + "\n";
		for (const Sec &s : secs) {
			r += "\nconfig " + s.type + (s.anon ? "" : " " + q(s.name)) + "\n";
			for (const Opt &o : s.opts)
				for (const std::string &v : o.v)
					r += std::string("\t") + (o.list ? "list " : "option ") + o.name + " " + q(v) + "\n";
		}
		return r + "\n";
	}
	std::string shown(const std::string &pkg) const
	{
		std::string r;
		std::map<std::string, int> seen;
		for (const Sec &s : secs) {
			int idx = seen[s.type]++;
			std::string n = pkg + "." + (s.anon ? "@" + s.type + "[" + std::to_string(idx) + "]" : s.name);
			r += n + "=" + s.type + "\n";
			for (const Opt &o : s.opts) {
				r += n + "." + o.name + "=";
				for (size_t i = 0; i < o.v.size(); i++)
					r += (i ? " " : "") + q(o.v[i]);
				r += "\n";
			}
		}
		return r;
	}
};

// Random numbers from given bytes first (so a fuzzer steers the choices),
// then from a seeded generator.
class Source {
public:
	explicit Source(unsigned seed) : mt(seed) {}
	Source(const uint8_t *d, size_t n) : mt((unsigned)n), d(d), n(n) {}
	unsigned operator()()
	{
		if (n) {
			n--;
			return *d++;
		}
		return (unsigned)mt();
	}

private:
	std::mt19937 mt;
	const uint8_t *d = nullptr;
	size_t n = 0;
};

class Gen {
public:
	explicit Gen(Source src) : rng(src) {}

	std::string text;
	Model m;
	std::string error; // "REASON) at line L, byte B" or empty

	void file(bool broken)
	{
		int n = pick(12) + 1, bad = broken ? pick(n + 1) : -1;
		for (int i = 0; i <= n; i++) {
			if (i == bad && fault())
				return;
			if (chance(5))
				text += chance(2) ? "\n" : "# note; 'x' \"y\n";
			statement(i == 0);
		}
		if (!text.empty() && chance(6))
			text.pop_back(); // last line without a newline
	}

private:
	Source rng;
	std::map<std::string, std::string> types;
	bool glued = false;	// the next statement follows a ';' on this line

	int pick(int n) { return (int)(rng() % (unsigned)n); }
	bool chance(int n) { return pick(n) == 0; }
	template <typename T> const T &one(const std::vector<T> &v) { return v[(size_t)pick((int)v.size())]; }

	std::string value()
	{
		static const std::string alpha = "abcXYZ019 _-.'\"\\#;\t";
		std::string v;
		int len = pick(7);
		for (int i = 0; i < len; i++)
			v += chance(25) ? '\n' : alpha[(size_t)pick((int)alpha.size())];
		return v;
	}

	// One word in a random spelling; quoted tells whether it ends in a quote.
	std::string word(const std::string &v, bool &quoted)
	{
		bool plain = !v.empty() && v.find('\n') == std::string::npos;
		int style = pick(plain ? 4 : 2);
		std::string r;
		quoted = true;
		if (style == 0) { // single quotes, '\'' for a quote
			r = Model::q(v);
		} else if (style == 1) { // double quotes, some escapes and continuations
			r = "\"";
			for (char c : v) {
				if (c == '"' || c == '\\' || (c != '\n' && chance(8)))
					r += '\\';
				r += c;
				if (chance(15))
					r += "\\\n";
			}
			r += "\"";
		} else { // bare with backslash escapes, maybe a quoted tail
			quoted = false;
			size_t cut = style == 3 ? (size_t)pick((int)v.size()) : v.size();
			for (size_t i = 0; i < cut; i++) {
				char c = v[i];
				if (std::string(" \t'\"\\#;").find(c) != std::string::npos || chance(10))
					r += '\\';
				r += c;
				if (i + 1 < cut && chance(12))
					r += "\\\n";
			}
			if (cut < v.size()) {
				bool q2;
				r += word(v.substr(cut), q2);
				quoted = q2;
			}
		}
		return r;
	}

	std::string sep() { return chance(4) ? "\t" : chance(3) ? "  " : " "; }

	std::string indent()
	{
		if (glued)
			return chance(2) ? "" : " ";
		return chance(2) ? "\t" : chance(2) ? "" : "  ";
	}

	// Ends a statement whose last word ended in a quote or not.
	void end(bool quoted)
	{
		glued = false;
		int k = pick(8);
		if (k == 0 && quoted) {
			text += ";";
			glued = true;
		} else if (k == 1) {
			text += sep() + ";";
			glued = true;
		} else if (k == 2) {
			text += sep() + "# c 'x;y\n";
		} else if (k == 3) {
			text += "\r\n";
		} else {
			text += "\n";
		}
	}

	void statement(bool first)
	{
		bool q = false;
		if (first || m.secs.empty() || chance(4)) {
			std::string name = chance(3) ? "" : "s" + std::to_string(pick(6));
			if (!types.count(name))
				types[name] = one<std::string>({ "iface", "sw", "t-1", "a.b@c" });
			std::string type = name.empty() ? one<std::string>({ "iface", "sw", "x_y" }) : types[name];
			text += indent();
			text += chance(3) ? "c" : "config";
			text += sep();
			text += word(type, q);
			if (!name.empty())
				text += sep() + word(name, q);
			else if (chance(3)) {
				text += sep() + (chance(2) ? "''" : "\"\"");
				q = true;
			}
			m.config(type, name);
			end(q);
			return;
		}
		bool list = chance(2);
		std::string name = one<std::string>({ "o0", "o1", "o2", "l0", "Ab_9" });
		std::string v = value();
		text += indent();
		text += list ? (chance(3) ? "l" : "list") : (chance(3) ? "o" : "option");
		text += sep();
		text += word(name, q);
		if (!list && v.empty() && chance(3)) { // no value at all, like an empty one
			m.option(name, v, list);
			return end(q);
		}
		text += sep();
		text += word(v, q);
		m.option(name, v, list);
		end(q);
	}

	void fail_at(size_t p, const char *reason, bool at_word)
	{
		// After a word the parser stands past its terminator: count the line
		// that terminator belonged to.
		size_t anchor = at_word && p > 0 ? p - 1 : p, ls = 0;
		if (anchor > 0) {
			size_t nl = text.rfind('\n', anchor - 1);
			ls = nl == std::string::npos ? 0 : nl + 1;
		}
		int line = 1 + (int)std::count(text.begin(), text.begin() + (long)ls, '\n');
		error = std::string(reason) + ") at line " + std::to_string(line) + ", byte " + std::to_string(p - ls);
	}

	// Puts one fault at the current place; false when none fits here.
	bool fault()
	{
		bool in_section = !m.secs.empty();
		std::string ind = indent();
		glued = false;
		text += ind;
		size_t at = text.size();
		switch (pick(in_section ? 9 : 3)) {
		case 0:
			text += "foo bar\n";
			fail_at(at, "invalid command", false);
			break;
		case 1:
			text += one<std::string>({ "config", "option", "package", "list" }) + "\n";
			fail_at(at, "invalid command", false);
			break;
		case 2:
			if (in_section) {
				text += "config 'a b' x\n";
				fail_at(at + 13, "invalid character in type field", true);
			} else {
				text += "option a b\n";
				fail_at(at, "option/list command found before the first section", false);
			}
			break;
		case 3:
			text += "option o1 v extra\n";
			fail_at(text.size(), "too many arguments", true);
			break;
		case 4:
			text += "option bad-name v\n";
			fail_at(at + 16, "invalid character in name field", true);
			break;
		case 5: {
			Sec *s = nullptr;
			for (Sec &c : m.secs)
				if (!c.anon)
					s = &c;
			if (!s)
				return text.resize(at - ind.size()), false;
			text += "config other " + s->name + "\n";
			fail_at(text.size(), "section of different type overwrites prior section with same name", true);
			break;
		}
		case 6:
			text += chance(2) ? "option o1 'abc\n" : "option o1 \"a\\\"bc\n";
			fail_at(text.size(), text[at + 10] == '\'' ? "EOF with unterminated '" : "EOF with unterminated \"",
				true);
			return true; // nothing may follow
		case 7:
			text += "option o1 'v';x\n";
			fail_at(at + 14, "invalid command", false);
			break;
		default:
			text += std::string("option o1 'a\0b'\n", 16);
			fail_at(text.size(), "invalid character in value field", true);
			break;
		}
		for (int i = pick(3); i > 0; i--)
			statement(false);
		return true;
	}
};

} // namespace ucimodel
