/*
 * libFuzzer target for the commit path: a random sequence of edits is made
 * twice, once in a context that only keeps them in memory (the expected
 * tree) and once in a context that saves them to the save file and commits
 * at random points. After every save a fresh context must load the expected
 * tree (config file + replayed changes); at the end, after a final commit,
 * a fresh context must load it from the config file alone.
 *
 * Sections are named by position (@[N]) so both contexts mean the same one
 * after a commit has renumbered anonymous sections. Trees are compared
 * without the names of anonymous sections and without empty lists, which a
 * commit does not write.
 */
#define _GNU_SOURCE
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

static char dir[512], conf[528], save[528], cfile[544], sfile[544];

static int remove_entry(const char *path, const struct stat *st, int flag, struct FTW *ftw)
{
	return remove(path);
}

/* The scratch directory goes when the fuzzer exits, as it does at the end
 * of its runs. */
static void remove_dir(void)
{
	nftw(dir, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

static const char initial[] = "config iface 'lan'\n\toption ifname 'eth0'\n\tlist dns '1'\n\tlist dns '2'\n"
			      "config sw\n\toption name 'sw0'\n"
			      "config iface 'wan'\n\toption proto 'dhcp'\n";

struct in {
	const uint8_t *d;
	size_t n;
};

static unsigned take(struct in *in, unsigned mod)
{
	if (!in->n)
		return 0;
	in->n--;
	return *in->d++ % mod;
}

/* A value of up to 7 bytes straight from the input (no NUL). */
static void take_value(struct in *in, char *v)
{
	unsigned len = take(in, 8), i = 0;
	for (; i < len && in->n; i++) {
		v[i] = (char)*in->d++;
		in->n--;
		if (!v[i])
			v[i] = '\'';
	}
	v[i] = 0;
}

static void dump(struct uci_package *p, struct sbuf *b)
{
	struct uci_element *se, *oe, *ie;
	uci_foreach_element(&p->sections, se) {
		struct uci_section *s = uci_to_section(se);
		sb_puts(b, s->anonymous ? "-" : s->e.name);
		sb_putc(b, '=');
		sb_puts(b, s->type);
		sb_putc(b, '\n');
		uci_foreach_element(&s->options, oe) {
			struct uci_option *o = uci_to_option(oe);
			if (o->type == UCI_TYPE_LIST && uci_list_empty(&o->v.list))
				continue;
			sb_putc(b, '\t');
			sb_puts(b, o->e.name);
			if (o->type == UCI_TYPE_STRING) {
				sb_putc(b, '=');
				sb_quoted(b, o->v.string);
			} else {
				uci_foreach_element(&o->v.list, ie) {
					sb_puts(b, " +");
					sb_quoted(b, ie->name);
				}
			}
			sb_putc(b, '\n');
		}
	}
}

static struct uci_context *ctx_new(void)
{
	struct uci_context *ctx = uci_alloc_context();
	if (!ctx)
		abort();
	uci_set_confdir(ctx, conf);
	uci_set_savedir(ctx, save);
	return ctx;
}

/* A fresh context must load the same tree as the expected package. */
static void check_fresh(struct uci_package *want, const char *when)
{
	struct uci_context *ctx = ctx_new();
	struct uci_package *p = NULL;
	if (uci_load(ctx, "net", &p)) {
		fprintf(stderr, "%s: the package does not load (error %d)\n", when, ctx->err);
		abort();
	}
	struct sbuf a = { 0 }, b = { 0 };
	dump(want, &a);
	dump(p, &b);
	if (a.len != b.len || (a.len && memcmp(a.d, b.d, a.len))) {
		fprintf(stderr, "%s: loaded tree differs\nwant:\n%.*s\ngot:\n%.*s", when, (int)a.len, a.d ? a.d : "",
			(int)b.len, b.d ? b.d : "");
		abort();
	}
	sb_free(&a);
	sb_free(&b);
	uci_free_context(ctx);
}

/* Drops emptied lists from the expected tree, as a commit does. */
static void drop_empty_lists(struct uci_package *p)
{
	struct uci_element *se, *oe, *tmp;
	uci_foreach_element(&p->sections, se) {
		uci_foreach_element_safe(&uci_to_section(se)->options, tmp, oe) {
			struct uci_option *o = uci_to_option(oe);
			if (o->type == UCI_TYPE_LIST && uci_list_empty(&o->v.list))
				opt_free(o);
		}
	}
}

static int nsections(struct uci_package *p)
{
	int n = 0;
	struct uci_element *e;
	uci_foreach_element(&p->sections, e)
		n++;
	return n;
}

enum op { OP_SET, OP_SECTION, OP_ADD_LIST, OP_DEL_LIST, OP_DELETE, OP_DEL_ITEM, OP_RENAME_OPT, OP_RENAME_SEC,
	  OP_REORDER, OP_ADD_ANON, OP_SAVE, OP_COMMIT, OP_MAX };

static const char *const types[] = { "iface", "sw", "a-b" };

/* Applies one edit to a context's package; the key is built by the caller. */
static int edit(struct uci_context *ctx, struct uci_package **pp, enum op op, const char *key, int arg)
{
	char buf[128];
	struct uci_ptr ptr;
	snprintf(buf, sizeof(buf), "%s", key);
	if (op == OP_ADD_ANON) {
		struct uci_section *s;
		return uci_add_section(ctx, *pp, types[arg % 3], &s);
	}
	int r = uci_lookup_ptr(ctx, &ptr, buf, true);
	if (r)
		return r;
	switch (op) {
	case OP_SET:
	case OP_SECTION:
		return uci_set(ctx, &ptr);
	case OP_ADD_LIST:
		return uci_add_list(ctx, &ptr);
	case OP_DEL_LIST:
		return uci_del_list(ctx, &ptr);
	case OP_DELETE:
	case OP_DEL_ITEM:
		return uci_delete(ctx, &ptr);
	case OP_RENAME_OPT:
	case OP_RENAME_SEC:
		return uci_rename(ctx, &ptr);
	case OP_REORDER:
		return ptr.s ? uci_reorder_section(ctx, ptr.s, arg) : -1;
	default:
		return -1;
	}
}

static bool exists(struct uci_context *ctx, const char *key)
{
	char buf[128];
	struct uci_ptr ptr;
	snprintf(buf, sizeof(buf), "%s", key);
	return uci_lookup_ptr(ctx, &ptr, buf, true) == 0 && (ptr.flags & UCI_LOOKUP_COMPLETE);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (!dir[0]) {
		const char *tmp = getenv("TMPDIR");

		snprintf(dir, sizeof(dir), "%s/uci-fuzz-commit-XXXXXX", tmp && *tmp ? tmp : "/tmp");
		if (!mkdtemp(dir))
			abort();
		atexit(remove_dir);
		snprintf(conf, sizeof(conf), "%s/conf", dir);
		snprintf(save, sizeof(save), "%s/save", dir);
		snprintf(cfile, sizeof(cfile), "%s/net", conf);
		snprintf(sfile, sizeof(sfile), "%s/net", save);
		mkdir(conf, 0700);
		mkdir(save, 0700);
	}
	FILE *f = fopen(cfile, "w");
	if (!f)
		abort();
	fputs(initial, f);
	fclose(f);
	unlink(sfile);

	struct uci_context *mem = ctx_new(), *disk = ctx_new();
	struct uci_package *want = NULL, *p = NULL;
	if (uci_load(mem, "net", &want) || uci_load(disk, "net", &p))
		abort();
	struct in in = { data, size };
	for (int steps = 0; in.n && steps < 64; steps++) {
		enum op op = (enum op)take(&in, OP_MAX);
		int n = nsections(want), sec = n ? (int)take(&in, (unsigned)n) : 0;
		int arg = (int)take(&in, 8);
		char val[8], key[96];
		take_value(&in, val);
		const char *opt = arg < 4 ? "o" : arg < 6 ? "dns" : "name";
		switch (op) {
		case OP_SAVE:
			if (uci_save(disk, p))
				abort();
			check_fresh(want, "after save");
			continue;
		case OP_COMMIT:
			if (uci_commit(disk, &p, false))
				abort();
			drop_empty_lists(want);
			check_fresh(want, "after commit");
			continue;
		case OP_SECTION:
			snprintf(key, sizeof(key), "net.s%d=%s", arg % 4, types[arg % 3]);
			break;
		case OP_DELETE:
			if (arg & 1)
				snprintf(key, sizeof(key), "net.@[%d]", sec);
			else
				snprintf(key, sizeof(key), "net.@[%d].%s", sec, opt);
			break;
		case OP_DEL_ITEM:
			snprintf(key, sizeof(key), "net.@[%d].%s=%d", sec, opt, arg % 3);
			break;
		case OP_RENAME_OPT:
			snprintf(key, sizeof(key), "net.@[%d].%s", sec, arg & 1 ? "x" : "y");
			if (exists(mem, key))
				continue; /* a name held twice merges on reload */
			snprintf(key, sizeof(key), "net.@[%d].%s=%s", sec, opt, arg & 1 ? "x" : "y");
			break;
		case OP_RENAME_SEC:
			snprintf(key, sizeof(key), "net.r%d", arg % 3);
			if (exists(mem, key))
				continue;
			snprintf(key, sizeof(key), "net.@[%d]=r%d", sec, arg % 3);
			break;
		case OP_REORDER:
			snprintf(key, sizeof(key), "net.@[%d]", sec);
			break;
		default:
			snprintf(key, sizeof(key), "net.@[%d].%s=%s", sec, opt, val);
			break;
		}
		int a = edit(mem, &want, op, key, arg), b = edit(disk, &p, op, key, arg);
		if (a != b) {
			fprintf(stderr, "'%s' (op %d): %d in memory, %d in the saving context\n", key, op, a, b);
			abort();
		}
	}
	if (uci_commit(disk, &p, false))
		abort();
	drop_empty_lists(want);
	check_fresh(want, "after the final commit");
	struct stat st;
	if (stat(sfile, &st) == 0 && st.st_size) {
		fprintf(stderr, "save file not empty after commit\n");
		abort();
	}
	uci_free_context(mem);
	uci_free_context(disk);
	return 0;
}
