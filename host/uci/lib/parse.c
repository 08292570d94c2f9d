/* Text readers: the config file syntax and the save-file (delta) lines.
 * Both work on a whole file held in memory and never read past its end. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

/* W_NUL: a whole word was read but holds a NUL byte; the line is refused. */
enum { W_NONE, W_WORD, W_NUL, W_EOF_SQ, W_EOF_DQ, W_NOMEM };

struct tok {
	struct uci_context *ctx;
	const char *b;
	size_t n;
	size_t ls, le, pos; /* current physical line [ls, le), read position */
	int line;
	size_t wl;          /* bytes used in the word scratch (ctx->buf) */
	bool nul;           /* the current word holds a NUL byte */
	const char *reason;
	size_t epos;
};

static bool fetch_line(struct tok *t)
{
	if (t->le >= t->n)
		return false;
	t->ls = t->le;
	const char *nl = memchr(t->b + t->ls, '\n', t->n - t->ls);
	t->le = nl ? (size_t)(nl - t->b) + 1 : t->n;
	t->pos = t->ls;
	t->line++;
	return true;
}

static inline bool is_ws(char c)
{
	return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

static inline bool at_eol(const struct tok *t)
{
	return t->pos >= t->le || t->b[t->pos] == '\n';
}

static void skip_ws(struct tok *t)
{
	while (t->pos < t->le && is_ws(t->b[t->pos]))
		t->pos++;
}

static bool wput(struct tok *t, char c)
{
	struct uci_context *ctx = t->ctx;
	if (t->wl >= (size_t)ctx->bufsz) {
		size_t nsz = ctx->bufsz ? (size_t)ctx->bufsz * 2 : 256;
		if (nsz > 0x7fffffff)
			return false;
		char *nb = realloc(ctx->buf, nsz);
		if (!nb)
			return false;
		ctx->buf = nb;
		ctx->bufsz = (int)nsz;
	}
	ctx->buf[t->wl++] = c;
	t->nul |= c == 0;
	return true;
}

/* After a backslash in double quotes: the next byte is kept as it is, and
 * a line end there joins the lines. W_WORD with *c to keep, W_NONE for a
 * joined line, or W_EOF_DQ at the end of the file. */
static int dq_escape(struct tok *t, char *c)
{
	if (t->pos >= t->le)
		return W_EOF_DQ;
	*c = t->b[t->pos];
	if (*c == '\n') {
		t->pos++;
		return W_NONE;
	}
	if (*c == '\r' && t->pos + 1 < t->le && t->b[t->pos + 1] == '\n') {
		t->pos += 2;
		return W_NONE;
	}
	t->pos++;
	return W_WORD;
}

/* Reads up to the closing quote q, across lines; only double quotes know
 * escapes. */
static int read_quoted(struct tok *t, char q)
{
	for (;;) {
		if (t->pos >= t->le) {
			if (!fetch_line(t))
				return q == '"' ? W_EOF_DQ : W_EOF_SQ;
			continue;
		}
		char c = t->b[t->pos++];
		if (c == q)
			return W_WORD;
		if (c == '\\' && q == '"') {
			int r = dq_escape(t, &c);
			if (r == W_NONE)
				continue;
			if (r != W_WORD)
				return r;
		}
		if (!wput(t, c))
			return W_NOMEM;
	}
}

/* Reads one shell-like word into the scratch buffer at *off. A ';' right
 * after a closing quote ends the word and is left for the caller as a
 * statement separator; glued to an unquoted piece it ends the line. */
static int next_word(struct tok *t, size_t *off)
{
	bool quoted = false;

	skip_ws(t);
	if (at_eol(t))
		return W_NONE;
	char c = t->b[t->pos];
	if (c == '#') {
		t->pos = t->le;
		return W_NONE;
	}
	if (c == ';')
		return W_NONE;

	*off = t->wl;
	t->nul = false;
	while (t->pos < t->le) {
		c = t->b[t->pos];
		if (c == '\n' || is_ws(c)) {
			t->pos++;
			break;
		}
		if (c == ';' && quoted)
			break;
		if (c == '#' || c == ';') {
			t->pos = t->le;
			break;
		}
		t->pos++;
		quoted = c == '\'' || c == '"';
		int r = W_WORD;
		if (quoted)
			r = read_quoted(t, c);
		else if (c == '\\') {
			if (t->pos >= t->le)
				break;
			c = t->b[t->pos];
			if (c == '\n' || (c == '\r' && t->pos + 1 < t->le && t->b[t->pos + 1] == '\n')) {
				if (!fetch_line(t))
					break;
				continue;
			}
			t->pos++;
			r = wput(t, c) ? W_WORD : W_NOMEM;
		} else
			r = wput(t, c) ? W_WORD : W_NOMEM;
		if (r != W_WORD)
			return r;
	}
	bool nul = t->nul;
	if (!wput(t, 0))
		return W_NOMEM;
	return nul ? W_NUL : W_WORD;
}

static int fail(struct tok *t, const char *reason, size_t pos)
{
	t->reason = reason;
	t->epos = pos;
	return UCI_ERR_PARSE;
}

/* r is past W_WORD; field names what a NUL byte in the word spoils. */
static int word_fail(struct tok *t, int r, const char *field)
{
	if (r == W_NOMEM)
		return UCI_ERR_MEM;
	if (r == W_NUL)
		return fail(t, field, t->pos);
	return fail(t, r == W_EOF_SQ ? "EOF with unterminated '" : "EOF with unterminated \"", t->pos);
}

static int stmt_end(struct tok *t)
{
	size_t off;
	int r = next_word(t, &off);
	if (r == W_NONE)
		return 0;
	if (r == W_WORD || r == W_NUL)
		return fail(t, "too many arguments", t->pos);
	return word_fail(t, r, NULL);
}

static bool pkgline_name_ok(const char *s)
{
	if (!*s)
		return false;
	for (; *s; s++) {
		char c = *s;
		if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
			return false;
	}
	return true;
}

/* A word that must be there and pass ok; field is the error text for both. */
static int required_word(struct tok *t, size_t *off, bool (*ok)(const char *), const char *field)
{
	int r = next_word(t, off);
	if (r > W_WORD)
		return word_fail(t, r, field);
	if (r == W_NONE || !ok(t->ctx->buf + *off))
		return fail(t, field, t->pos);
	return 0;
}

/* A word that may be missing; *present tells whether it is there. */
static int optional_word(struct tok *t, size_t *off, const char *field, bool *present)
{
	int r = next_word(t, off);
	if (r > W_WORD)
		return word_fail(t, r, field);
	*present = r == W_WORD;
	return 0;
}

static int do_package(struct tok *t)
{
	size_t off;
	int r = required_word(t, &off, pkgline_name_ok, "invalid character in name field");
	return r ? r : stmt_end(t);
}

static int do_config(struct tok *t, struct uci_package *p, struct uci_section **cur)
{
	size_t toff, noff;
	bool named;
	int r = required_word(t, &toff, uci_type_ok, "invalid character in type field");
	if (!r)
		r = optional_word(t, &noff, "invalid character in name field", &named);
	if (r)
		return r;
	named = named && t->ctx->buf[noff];
	if (named && !uci_name_ok(t->ctx->buf + noff))
		return fail(t, "invalid character in name field", t->pos);
	if ((r = stmt_end(t)))
		return r;

	const char *type = t->ctx->buf + toff;
	struct uci_section *s = NULL;
	if (named) {
		const char *name = t->ctx->buf + noff;
		s = sec_find(p, name);
		if (s) {
			if (strcmp(s->type, type)) {
				if (t->ctx->flags & UCI_FLAG_STRICT)
					return fail(t, "section of different type overwrites prior section with same name",
						    t->pos);
				if (!sec_set_type(s, type))
					return UCI_ERR_MEM;
			}
			*cur = s;
			return 0;
		}
		s = sec_new(p, type, name, false);
	} else
		s = sec_new(p, type, NULL, true);
	if (!s)
		return UCI_ERR_MEM;
	*cur = s;
	return 0;
}

/* A line of a file states a value only when it has one, and for an option
 * only a non-empty one: `option N`, `option N ''` and `option N ""` create
 * no option and leave one an earlier line set as it was, while `list N ''`
 * appends an empty item. (Setting "" through uci_set deletes instead.) */
static bool states_value(bool list, const char *value)
{
	return value && (list || *value);
}

static int do_option(struct tok *t, struct uci_section *cur, bool list, size_t cmd_start)
{
	size_t noff, voff;
	bool has_value;
	if (!cur)
		return fail(t, "option/list command found before the first section", cmd_start);
	int r = required_word(t, &noff, uci_name_ok, "invalid character in name field");
	if (!r)
		r = optional_word(t, &voff, "invalid character in value field", &has_value);
	if (!r)
		r = stmt_end(t);
	if (r)
		return r;

	const char *name = t->ctx->buf + noff, *value = has_value ? t->ctx->buf + voff : NULL;
	if (!states_value(list, value))
		return 0;
	struct uci_option *o = opt_find(cur, name);
	if (list)
		return opt_add_item(cur, o, name, value) ? 0 : UCI_ERR_MEM;
	return opt_set(cur, o, name, value) ? 0 : UCI_ERR_MEM;
}

static int statement(struct tok *t, struct uci_package *p, struct uci_section **cur)
{
	size_t start = t->pos, k = start;
	while (k < t->le && !is_ws(t->b[k]) && t->b[k] != '\n' && t->b[k] != 0)
		k++;
	if (k >= t->le || (t->b[k] != ' ' && t->b[k] != '\t'))
		return fail(t, "invalid command", start);
	const char *kw = t->b + start;
	size_t kl = k - start;
	char which = 0;
	if ((kl == 7 && !memcmp(kw, "package", 7)) || (kl == 1 && kw[0] == 'p'))
		which = 'p';
	else if ((kl == 6 && !memcmp(kw, "config", 6)) || (kl == 1 && kw[0] == 'c'))
		which = 'c';
	else if ((kl == 6 && !memcmp(kw, "option", 6)) || (kl == 1 && kw[0] == 'o'))
		which = 'o';
	else if ((kl == 4 && !memcmp(kw, "list", 4)) || (kl == 1 && kw[0] == 'l'))
		which = 'l';
	else
		return fail(t, "invalid command", start);
	t->pos = k + 1;
	t->wl = 0;
	switch (which) {
	case 'p':
		return do_package(t);
	case 'c':
		return do_config(t, p, cur);
	default:
		return do_option(t, *cur, which == 'l', start);
	}
}

void uci_parse_error_clear(struct uci_context *ctx)
{
	if (ctx->pctx)
		ctx->pctx->reason = NULL;
}

static bool note_error(struct tok *t)
{
	struct uci_context *ctx = t->ctx;
	if (!ctx->pctx) {
		ctx->pctx = calloc(1, sizeof(*ctx->pctx));
		if (!ctx->pctx)
			return false;
	}
	ctx->pctx->reason = t->reason;
	ctx->pctx->line = t->line;
	ctx->pctx->byte = (int)(t->epos - t->ls);
	return true;
}

int parse_config(struct uci_context *ctx, struct uci_package *p, const char *buf, size_t len)
{
	struct tok t = { .ctx = ctx, .b = buf, .n = len };
	struct uci_section *cur = NULL;

	while (fetch_line(&t)) {
		for (;;) {
			skip_ws(&t);
			if (at_eol(&t) || t.b[t.pos] == '#')
				break;
			if (t.b[t.pos] == ';') {
				t.pos++;
				continue;
			}
			int r = statement(&t, p, &cur);
			if (!r)
				continue;
			if (r != UCI_ERR_PARSE || !note_error(&t))
				return UCI_ERR_MEM;
			if (ctx->flags & UCI_FLAG_STRICT)
				return UCI_ERR_PARSE;
			if (ctx->flags & UCI_FLAG_PERROR)
				fprintf(stderr, "Parse error (%s) at line %d, byte %d\n", ctx->pctx->reason,
					ctx->pctx->line, ctx->pctx->byte);
			ctx->pctx->reason = NULL;
			break;
		}
	}
	return 0;
}

static struct raw_delta *raw_new(size_t off, size_t len, const char *pkg, const char *sec, const char *opt)
{
	size_t pl = pkg ? strlen(pkg) + 1 : 0, sl = sec ? strlen(sec) + 1 : 0, ol = opt ? strlen(opt) + 1 : 0;
	struct raw_delta *r = calloc(1, sizeof(*r) + pl + sl + ol);
	if (!r)
		return NULL;
	char *o = (char *)(r + 1);
	r->off = off;
	r->len = len;
	r->parsed = pkg != NULL;
	if (pkg) {
		r->pkg = memcpy(o, pkg, pl);
		o += pl;
	}
	if (sec) {
		r->sec = memcpy(o, sec, sl);
		o += sl;
	}
	if (opt)
		r->opt = memcpy(o, opt, ol);
	return r;
}

/* Splits "[prefix]pkg.sec[.opt][=value]" in place; false when the line is unusable. */
static bool split_delta(char *w, enum uci_command *cmd, char **pkg, char **sec, char **opt, char **value)
{
	*cmd = UCI_CMD_CHANGE;
	switch (*w) {
	case '+': *cmd = UCI_CMD_ADD; w++; break;
	case '-': *cmd = UCI_CMD_REMOVE; w++; break;
	case '@': *cmd = UCI_CMD_RENAME; w++; break;
	case '^': *cmd = UCI_CMD_REORDER; w++; break;
	case '|': *cmd = UCI_CMD_LIST_ADD; w++; break;
	case '~': *cmd = UCI_CMD_LIST_DEL; w++; break;
	}
	char *eq = strchr(w, '=');
	*value = NULL;
	if (eq) {
		*eq = 0;
		*value = eq + 1;
	}
	*pkg = w;
	*sec = *opt = NULL;
	char *d = strchr(w, '.');
	if (!d)
		return false;
	*d = 0;
	*sec = d + 1;
	d = strchr(*sec, '.');
	if (d) {
		*d = 0;
		*opt = d + 1;
		if (strchr(*opt, '.') || !uci_name_ok(*opt))
			return false;
	}
	if (!uci_name_ok(*sec))
		return false;
	if (!*value && *cmd != UCI_CMD_REMOVE)
		return false;
	if (*cmd == UCI_CMD_RENAME && !uci_name_ok(*value))
		return false;
	return true;
}

/* Replays a save file onto p. Returns the number of changes that applied,
 * or -UCI_ERR_MEM. With raw, every entry is also listed for rewriting. */
int parse_delta(struct uci_context *ctx, struct uci_package *p, const char *buf, size_t len,
		struct uci_list *raw)
{
	struct tok t = { .ctx = ctx, .b = buf, .n = len };
	int applied = 0;

	while (fetch_line(&t)) {
		size_t start = t.ls, off;
		t.wl = 0;
		int r = next_word(&t, &off);
		if (r == W_NOMEM)
			return -UCI_ERR_MEM;
		size_t end = t.le;
		t.pos = t.le;
		if (r == W_NONE && !raw)
			continue;

		enum uci_command cmd;
		char *pk = NULL, *sec = NULL, *opt = NULL, *value = NULL;
		bool ok = r == W_WORD && split_delta(ctx->buf + off, &cmd, &pk, &sec, &opt, &value) &&
			  !strcmp(pk, p->e.name);
		if (raw) {
			struct raw_delta *rd = raw_new(start, end - start, ok ? pk : NULL, ok ? sec : NULL, ok ? opt : NULL);
			if (!rd)
				return -UCI_ERR_MEM;
			ul_add_tail(raw, &rd->e.list);
		}
		if (!ok)
			continue;
		if (ctx->flags & UCI_FLAG_SAVED_DELTA) {
			struct uci_delta *d = delta_new(cmd, sec, opt, value);
			if (!d)
				return -UCI_ERR_MEM;
			ul_add_tail(&p->saved_delta, &d->e.list);
		}
		if (!delta_apply(p, cmd, sec, opt, value))
			applied++;
	}
	return applied;
}
