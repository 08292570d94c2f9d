/* uci: command-line access to the configuration store. */
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <uci.h>

enum cmd_id {
	CMD_GET, CMD_SET, CMD_DELETE, CMD_ADD_LIST, CMD_DEL_LIST, CMD_RENAME, CMD_REORDER,
	CMD_ADD, CMD_REVERT, CMD_COMMIT, CMD_CHANGES, CMD_SHOW, CMD_EXPORT, CMD_IMPORT, CMD_BATCH,
};

struct cmd_def {
	const char *name;
	enum cmd_id id;
	int min_args, max_args;
};

static const struct cmd_def commands[] = {
	{ "get", CMD_GET, 1, 1 },
	{ "set", CMD_SET, 1, 1 },
	{ "delete", CMD_DELETE, 1, 1 },
	{ "add_list", CMD_ADD_LIST, 1, 1 },
	{ "del_list", CMD_DEL_LIST, 1, 1 },
	{ "rename", CMD_RENAME, 1, 1 },
	{ "reorder", CMD_REORDER, 1, 1 },
	{ "add", CMD_ADD, 2, 2 },
	{ "revert", CMD_REVERT, 1, 1 },
	{ "commit", CMD_COMMIT, 0, 1 },
	{ "changes", CMD_CHANGES, 0, 1 },
	{ "show", CMD_SHOW, 0, 1 },
	{ "export", CMD_EXPORT, 0, 1 },
	{ "import", CMD_IMPORT, 0, 1 },
	{ "batch", CMD_BATCH, 0, 0 },
};

struct cli {
	struct uci_context *ctx;
	const char *appname;
	const char *sep;
	FILE *input;
	bool quiet;
	bool no_commit;
	bool real_names;
	bool merge;
};

static void usage(const char *app)
{
	fprintf(stderr,
		"Usage: %s [<options>] <command> [<arguments>]\n\n"
		"Commands:\n"
		"\tbatch\n"
		"\texport     [<config>]\n"
		"\timport     [<config>]\n"
		"\tchanges    [<config>]\n"
		"\tcommit     [<config>]\n"
		"\tadd        <config> <section-type>\n"
		"\tadd_list   <config>.<section>.<option>=<string>\n"
		"\tdel_list   <config>.<section>.<option>=<string>\n"
		"\tshow       [<config>[.<section>[.<option>]]]\n"
		"\tget        <config>.<section>[.<option>]\n"
		"\tset        <config>.<section>[.<option>]=<value>\n"
		"\tdelete     <config>.<section>[.<option>[=<index>]]\n"
		"\trename     <config>.<section>[.<option>]=<name>\n"
		"\trevert     <config>[.<section>[.<option>]]\n"
		"\treorder    <config>.<section>=<position>\n"
		"\n"
		"Options:\n"
		"\t-c <path>  set the search path for config files (default: /etc/config)\n"
		"\t-d <str>   set the delimiter for list values in uci show and get\n"
		"\t-f <file>  use <file> as input instead of stdin\n"
		"\t-m         when importing, merge data into an existing package\n"
		"\t-n         name unnamed sections on export\n"
		"\t-N         don't name unnamed sections (default)\n"
		"\t-p <path>  add a search path for config change files\n"
		"\t-P <path>  add a search path for config change files and use as default; commit does nothing\n"
		"\t-t <path>  set the save path for config change files\n"
		"\t-q         quiet mode (don't print error messages)\n"
		"\t-s         force strict mode (stop on parser errors, default)\n"
		"\t-S         disable strict mode\n"
		"\t-X         do not use extended syntax on 'show'\n"
		"\n",
		app);
}

static void cli_perror(struct cli *c)
{
	if (!c->quiet)
		uci_perror(c->ctx, c->appname);
}

static int fail_with(struct cli *c, int err)
{
	c->ctx->err = err;
	cli_perror(c);
	return 1;
}

static void put_quoted(const char *s)
{
	putchar('\'');
	for (; *s; s++) {
		if (*s == '\'')
			fputs("'\\''", stdout);
		else
			putchar(*s);
	}
	putchar('\'');
}

static void print_option_value(struct cli *c, struct uci_option *o, bool always_quote)
{
	struct uci_element *e;
	if (o->type == UCI_TYPE_STRING) {
		if (always_quote)
			put_quoted(o->v.string);
		else
			fputs(o->v.string, stdout);
		return;
	}
	bool first = true;
	uci_foreach_element(&o->v.list, e) {
		if (!first)
			fputs(c->sep, stdout);
		first = false;
		if (always_quote || strpbrk(e->name, " \t\r\n"))
			put_quoted(e->name);
		else
			fputs(e->name, stdout);
	}
}

static void show_option(struct cli *c, struct uci_option *o, const char *pkg, const char *sec)
{
	printf("%s.%s.%s=", pkg, sec, o->e.name);
	print_option_value(c, o, true);
	putchar('\n');
}

static void show_section(struct cli *c, struct uci_section *s, const char *secname)
{
	const char *pkg = s->package->e.name;
	struct uci_element *e;
	printf("%s.%s=%s\n", pkg, secname, s->type);
	uci_foreach_element(&s->options, e)
		show_option(c, uci_to_option(e), pkg, secname);
}

/* Sections seen so far per type, for the "@type[N]" names of show. A
 * table rather than a count over the earlier sections: that was quadratic. */
struct type_count {
	const char *type;
	int n;
};

static int count_type(struct type_count *t, size_t mask, const char *type)
{
	size_t h = 5381;
	for (const char *c = type; *c; c++)
		h = h * 33 + (unsigned char)*c;
	for (size_t i = h & mask;; i = (i + 1) & mask) {
		if (!t[i].type)
			t[i].type = type;
		if (!strcmp(t[i].type, type))
			return t[i].n++;
	}
}

/* "@type[N]" for an anonymous section: N counts every earlier section of that type. */
static void show_package(struct cli *c, struct uci_package *p)
{
	struct uci_element *e;
	size_t n = 0, cap = 16;
	uci_foreach_element(&p->sections, e)
		n++;
	while (cap < 2 * n)
		cap *= 2;
	struct type_count *counts = calloc(cap, sizeof(*counts));
	if (!counts)
		return;
	uci_foreach_element(&p->sections, e) {
		struct uci_section *s = uci_to_section(e);
		int idx = count_type(counts, cap - 1, s->type);
		if (!s->anonymous || c->real_names) {
			show_section(c, s, s->e.name);
			continue;
		}
		size_t len = strlen(s->type) + 16;
		char *name = malloc(len);
		if (!name)
			continue;
		snprintf(name, len, "@%s[%d]", s->type, idx);
		show_section(c, s, name);
		free(name);
	}
	free(counts);
}

static int lookup(struct cli *c, struct uci_ptr *ptr, char *key)
{
	if (uci_lookup_ptr(c->ctx, ptr, key, true) != UCI_OK) {
		cli_perror(c);
		return 1;
	}
	return 0;
}

static int cmd_get(struct cli *c, char *key)
{
	struct uci_ptr ptr;
	if (lookup(c, &ptr, key))
		return 1;
	if (ptr.value)
		return 1;
	if (!(ptr.flags & UCI_LOOKUP_COMPLETE))
		return fail_with(c, UCI_ERR_NOTFOUND);
	switch (ptr.last->type) {
	case UCI_TYPE_SECTION:
		printf("%s\n", ptr.s->type);
		break;
	case UCI_TYPE_OPTION:
		print_option_value(c, ptr.o, false);
		putchar('\n');
		break;
	default:
		break;
	}
	return 0;
}

static int cmd_show(struct cli *c, char *key)
{
	struct uci_ptr ptr;
	if (lookup(c, &ptr, key))
		return 1;
	if (!(ptr.flags & UCI_LOOKUP_COMPLETE))
		return fail_with(c, UCI_ERR_NOTFOUND);
	switch (ptr.last->type) {
	case UCI_TYPE_PACKAGE:
		show_package(c, ptr.p);
		break;
	case UCI_TYPE_SECTION:
		show_section(c, ptr.s, ptr.s->e.name);
		break;
	case UCI_TYPE_OPTION:
		show_option(c, ptr.o, ptr.p->e.name, ptr.s->e.name);
		break;
	default:
		break;
	}
	return 0;
}

static void print_change(struct uci_package *p, struct uci_delta *d)
{
	const char *suffix = "=";
	if (d->cmd == UCI_CMD_REMOVE)
		putchar('-');
	printf("%s.%s", p->e.name, d->section);
	if (d->e.name)
		printf(".%s", d->e.name);
	switch (d->cmd) {
	case UCI_CMD_REMOVE:
		putchar('\n');
		return;
	case UCI_CMD_LIST_ADD:
		suffix = "+=";
		break;
	case UCI_CMD_LIST_DEL:
		suffix = "-=";
		break;
	default:
		break;
	}
	fputs(suffix, stdout);
	put_quoted(d->value ? d->value : "");
	putchar('\n');
}

/* The package called name as the files hold it. An earlier command of the
 * same batch may have it loaded, and loading it again would be refused as
 * a duplicate: every command saves what it changed, so that copy is dropped
 * and the package read anew. */
static int load_afresh(struct cli *c, const char *name, struct uci_package **p)
{
	struct uci_element *e;
	uci_foreach_element(&c->ctx->root, e) {
		if (!strcmp(e->name, name)) {
			uci_unload(c->ctx, uci_to_package(e));
			break;
		}
	}
	return uci_load(c->ctx, name, p);
}

static int per_package(struct cli *c, enum cmd_id id, const char *name)
{
	struct uci_package *p = NULL;
	struct uci_element *e;
	if (load_afresh(c, name, &p) != UCI_OK) {
		cli_perror(c);
		return 1;
	}
	switch (id) {
	case CMD_SHOW:
		show_package(c, p);
		break;
	case CMD_EXPORT:
		uci_export(c->ctx, stdout, p, true);
		break;
	case CMD_CHANGES:
		uci_foreach_element(&p->saved_delta, e)
			print_change(p, uci_to_delta(e));
		break;
	case CMD_COMMIT:
		if (uci_commit(c->ctx, &p, false) != UCI_OK) {
			cli_perror(c);
			uci_unload(c->ctx, p);
			return 1;
		}
		break;
	default:
		break;
	}
	uci_unload(c->ctx, p);
	return 0;
}

static int cmd_package_wide(struct cli *c, enum cmd_id id, char *arg)
{
	if (id == CMD_COMMIT && c->no_commit)
		return 0;
	if (arg) {
		if (id == CMD_SHOW)
			return cmd_show(c, arg);
		if (id == CMD_COMMIT) {
			struct uci_ptr ptr;
			if (lookup(c, &ptr, arg))
				return 1;
			if (uci_commit(c->ctx, &ptr.p, false) != UCI_OK) {
				cli_perror(c);
				return 1;
			}
			return 0;
		}
		return per_package(c, id, arg);
	}
	char **configs = NULL;
	if (uci_list_configs(c->ctx, &configs) != UCI_OK)
		return 0;
	/* A package that does not load is reported and the others still
	 * listed; like the platform's tool that is no failure of show, export
	 * or changes. A commit that failed is one. */
	int ret = 0;
	for (char **n = configs; *n; n++)
		if (per_package(c, id, *n) && id == CMD_COMMIT)
			ret = 1;
	free(configs);
	return ret;
}

static int cmd_edit(struct cli *c, enum cmd_id id, char *key)
{
	struct uci_ptr ptr;
	int r;
	if (lookup(c, &ptr, key))
		return 1;
	switch (id) {
	case CMD_SET:
		r = uci_set(c->ctx, &ptr);
		break;
	case CMD_DELETE:
		r = uci_delete(c->ctx, &ptr);
		break;
	case CMD_ADD_LIST:
		r = uci_add_list(c->ctx, &ptr);
		break;
	case CMD_DEL_LIST:
		r = uci_del_list(c->ctx, &ptr);
		break;
	case CMD_RENAME:
		r = uci_rename(c->ctx, &ptr);
		break;
	case CMD_REORDER:
		if (!ptr.s || !ptr.value)
			return fail_with(c, UCI_ERR_NOTFOUND);
		r = uci_reorder_section(c->ctx, ptr.s, (int)strtol(ptr.value, NULL, 10));
		break;
	case CMD_REVERT:
		r = uci_revert(c->ctx, &ptr);
		break;
	default:
		r = UCI_ERR_INVAL;
	}
	if (r != UCI_OK) {
		cli_perror(c);
		return 1;
	}
	if (id != CMD_REVERT && uci_save(c->ctx, ptr.p) != UCI_OK) {
		cli_perror(c);
		return 1;
	}
	return 0;
}

static int cmd_add(struct cli *c, const char *pkg, const char *type)
{
	struct uci_package *p = NULL;
	struct uci_section *s = NULL;
	int r = load_afresh(c, pkg, &p);
	if (!r)
		r = uci_add_section(c->ctx, p, type, &s);
	if (!r)
		r = uci_save(c->ctx, p);
	if (r)
		return r;
	printf("%s\n", s->e.name);
	return 0;
}

static int cmd_import(struct cli *c, const char *name)
{
	struct uci_package *p = NULL;
	if (!name)
		return fail_with(c, UCI_ERR_INVAL);
	if (uci_import(c->ctx, c->input, name, &p, true) != UCI_OK) {
		cli_perror(c);
		return 1;
	}
	if (c->merge) {
		/* replay the imported package as changes to the existing one */
		struct uci_package *old = NULL;
		struct uci_element *se, *oe, *ie;
		uci_unload(c->ctx, p);
		rewind(c->input);
		struct uci_context *tmp = uci_alloc_context();
		if (!tmp || uci_import(tmp, c->input, name, &p, true) != UCI_OK ||
		    uci_load(c->ctx, name, &old) != UCI_OK) {
			if (tmp)
				uci_free_context(tmp);
			return fail_with(c, UCI_ERR_IO);
		}
		uci_foreach_element(&p->sections, se) {
			struct uci_section *s = uci_to_section(se);
			struct uci_ptr ptr = { .p = old, .package = name, .section = s->e.name, .value = s->type };
			if (uci_set(c->ctx, &ptr) != UCI_OK)
				continue;
			uci_foreach_element(&s->options, oe) {
				struct uci_option *o = uci_to_option(oe);
				struct uci_ptr op = { .p = old, .package = name, .section = s->e.name, .option = o->e.name };
				if (o->type == UCI_TYPE_STRING) {
					op.value = o->v.string;
					uci_set(c->ctx, &op);
					continue;
				}
				uci_foreach_element(&o->v.list, ie) {
					struct uci_ptr lp = op;
					lp.value = ie->name;
					uci_add_list(c->ctx, &lp);
				}
			}
		}
		int r = uci_save(c->ctx, old);
		uci_free_context(tmp);
		return r ? fail_with(c, r) : 0;
	}
	if (uci_commit(c->ctx, &p, true) != UCI_OK) {
		cli_perror(c);
		return 1;
	}
	return 0;
}

static const struct cmd_def *find_cmd(const char *name)
{
	for (size_t i = 0; i < sizeof(commands) / sizeof(commands[0]); i++)
		if (!strcmp(commands[i].name, name))
			return &commands[i];
	return NULL;
}

static int run(struct cli *c, int argc, char **argv);

/* One command per input line, words split at blanks; "exit" ends. */
static int cmd_batch(struct cli *c)
{
	char *line = NULL;
	size_t cap = 0;
	int ret = 0;
	while (getline(&line, &cap, c->input) > 0) {
		char *argv[8];
		int argc = 0;
		for (char *t = strtok(line, " \t\r\n"); t && argc < 8; t = strtok(NULL, " \t\r\n"))
			argv[argc++] = t;
		if (!argc)
			continue;
		if (!strcmp(argv[0], "exit"))
			break;
		ret = run(c, argc, argv);
		fflush(stdout);
	}
	free(line);
	return ret;
}

static int run(struct cli *c, int argc, char **argv)
{
	const struct cmd_def *d = find_cmd(argv[0]);
	int nargs = argc - 1;
	if (!d || nargs < d->min_args || nargs > d->max_args) {
		usage(c->appname);
		return 255;
	}
	char *arg = nargs ? argv[1] : NULL;
	switch (d->id) {
	case CMD_GET:
		return cmd_get(c, arg);
	case CMD_SHOW:
	case CMD_EXPORT:
	case CMD_CHANGES:
	case CMD_COMMIT:
		return cmd_package_wide(c, d->id, arg);
	case CMD_ADD:
		return cmd_add(c, argv[1], argv[2]);
	case CMD_IMPORT:
		return cmd_import(c, arg);
	case CMD_BATCH:
		return cmd_batch(c);
	default:
		return cmd_edit(c, d->id, arg);
	}
}

/* -f: where batch and import read; false, with the reason said, when it
 * does not open. */
static bool set_input(struct cli *c, const char *path)
{
	if (c->input != stdin)
		fclose(c->input);
	c->input = fopen(path, "r");
	if (c->input)
		return true;
	perror("uci");
	return false;
}

/* Applies one option; 0, or the exit status of a run that ends here. */
static int apply_option(struct cli *c, int opt, const char *arg)
{
	switch (opt) {
	case 'c':
		uci_set_confdir(c->ctx, arg);
		break;
	case 'C':
		uci_set_conf2dir(c->ctx, arg);
		break;
	case 'd':
		c->sep = arg;
		break;
	case 'f':
		return set_input(c, arg) ? 0 : 1;
	case 'm':
		c->merge = true;
		break;
	case 'n':
		c->ctx->flags |= UCI_FLAG_EXPORT_NAME;
		break;
	case 'N':
		c->ctx->flags &= ~UCI_FLAG_EXPORT_NAME;
		break;
	case 'p':
		uci_add_delta_path(c->ctx, arg);
		break;
	case 'P':
		uci_set_savedir(c->ctx, arg);
		c->no_commit = true;
		break;
	case 't':
		uci_set_savedir(c->ctx, arg);
		break;
	case 'q':
		c->quiet = true;
		break;
	case 's':
		c->ctx->flags |= UCI_FLAG_STRICT;
		break;
	case 'S':
		c->ctx->flags &= ~UCI_FLAG_STRICT;
		c->ctx->flags |= UCI_FLAG_PERROR;
		break;
	case 'X':
		c->real_names = true;
		break;
	default:
		usage(c->appname);
		return 255;
	}
	return 0;
}

static int read_options(struct cli *c, int argc, char **argv)
{
	int opt, r;
	while ((opt = getopt(argc, argv, "c:C:d:f:mnNp:P:qsSt:X")) != -1)
		if ((r = apply_option(c, opt, optarg)))
			return r;
	return 0;
}

/* Without a command the usage is the answer, and not an error. */
static int run_command(struct cli *c, int argc, char **argv)
{
	if (!argc) {
		usage(c->appname);
		return 0;
	}
	return run(c, argc, argv);
}

static void cli_free(struct cli *c)
{
	if (c->input && c->input != stdin)
		fclose(c->input);
	uci_free_context(c->ctx);
}

int main(int argc, char **argv)
{
	struct cli c = { .appname = argv[0], .sep = " ", .input = stdin };

	c.ctx = uci_alloc_context();
	if (!c.ctx) {
		fprintf(stderr, "%s: Out of memory\n", c.appname);
		return 1;
	}
	int ret = read_options(&c, argc, argv);
	if (!ret)
		ret = run_command(&c, argc - optind, argv + optind);
	cli_free(&c);
	return ret;
}
