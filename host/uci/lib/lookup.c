/* Key parsing ("pkg.sec.opt=value", "pkg.@type[N].opt") and resolution. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

/* Splits str in place: the first '=' and the first three '.' become NULs. */
static int split_key(struct uci_ptr *ptr, char *str)
{
	memset(ptr, 0, sizeof(*ptr));
	char *eq = strchr(str, '=');
	if (eq) {
		*eq = 0;
		ptr->value = eq + 1;
	}
	ptr->package = str;
	ptr->target = UCI_TYPE_PACKAGE;
	char *d = strchr(str, '.');
	if (d) {
		*d = 0;
		ptr->section = d + 1;
		ptr->target = UCI_TYPE_SECTION;
		d = strchr(d + 1, '.');
		if (d) {
			*d = 0;
			ptr->option = d + 1;
			ptr->target = UCI_TYPE_OPTION;
			d = strchr(d + 1, '.');
			if (d) {
				*d = 0;
				return UCI_ERR_PARSE;
			}
		}
	}
	if (!*ptr->package)
		return UCI_ERR_PARSE;
	if (ptr->option && !uci_name_ok(ptr->option))
		return UCI_ERR_PARSE;
	if (ptr->value && !uci_validate_text(ptr->value))
		return UCI_ERR_PARSE;
	if (!uci_pkgname_ok(ptr->package))
		return UCI_ERR_INVAL;
	if (ptr->section && !uci_name_ok(ptr->section))
		ptr->flags |= UCI_LOOKUP_EXTENDED;
	return 0;
}

UCI_EXPORT int uci_parse_ptr(struct uci_context *ctx, struct uci_ptr *ptr, char *str)
{
	UCI_ENTER(ctx);
	if (!ptr || !str)
		return uci_fail(ctx, UCI_ERR_INVAL);
	int r = split_key(ptr, str);
	if (r)
		memset(ptr, 0, sizeof(*ptr));
	return r ? uci_fail(ctx, r) : 0;
}

struct ext_sel {
	const char *type;
	size_t tlen;
	long index;
};

static bool parse_ext(const char *sec, struct ext_sel *sel)
{
	if (sec[0] != '@')
		return false;
	const char *br = strchr(sec + 1, '[');
	if (!br)
		return false;
	sel->type = sec + 1;
	sel->tlen = (size_t)(br - sel->type);
	if (!uci_type_ok_n(sel->type, sel->tlen))
		return false;
	char *end;
	errno = 0;
	sel->index = strtol(br + 1, &end, 10);
	return *end == ']' && end[1] == 0;
}

static bool sel_match(const struct ext_sel *sel, const struct uci_section *s)
{
	return !sel->tlen || (!strncmp(s->type, sel->type, sel->tlen) && s->type[sel->tlen] == 0);
}

static struct uci_section *find_ext(struct uci_package *p, const struct ext_sel *sel)
{
	long want = sel->index, count = 0;
	struct uci_list *l;

	if (want < 0) {
		for (l = p->sections.next; l != &p->sections; l = l->next)
			count += sel_match(sel, (struct uci_section *)l);
		want += count;
		if (want < 0)
			return NULL;
		count = 0;
	}
	for (l = p->sections.next; l != &p->sections; l = l->next) {
		struct uci_section *s = (struct uci_section *)l;
		if (sel_match(sel, s) && count++ == want)
			return s;
	}
	return NULL;
}

static struct uci_package *find_loaded(struct uci_context *ctx, const char *name)
{
	if (name[0] == '/') {
		const char *slash = strrchr(name, '/');
		name = slash + 1;
	}
	for (struct uci_list *l = ctx->root.next; l != &ctx->root; l = l->next) {
		struct uci_package *p = (struct uci_package *)l;
		if (!strcmp(p->e.name, name))
			return p;
	}
	return NULL;
}

/* Resolves the strings held in ptr to elements, loading the package if needed. */
static int resolve(struct uci_context *ctx, struct uci_ptr *ptr, bool extended)
{
	struct ext_sel sel = { 0 };
	bool ext = ptr->flags & UCI_LOOKUP_EXTENDED;

	if (ext && extended && !parse_ext(ptr->section, &sel)) {
		memset(ptr, 0, sizeof(*ptr));
		return uci_fail(ctx, UCI_ERR_INVAL);
	}
	ptr->flags |= UCI_LOOKUP_DONE;
	if (!ptr->p) {
		ptr->p = find_loaded(ctx, ptr->package);
		if (!ptr->p) {
			int r = uci_load_pkg(ctx, ptr->package, &ptr->p);
			if (r) {
				ptr->p = NULL;
				return uci_fail(ctx, r);
			}
		}
	}
	if (ext && !extended)
		return uci_fail(ctx, UCI_ERR_INVAL);

	ptr->last = &ptr->p->e;
	if (!ptr->section && !ptr->s) {
		ptr->flags |= UCI_LOOKUP_COMPLETE;
		return 0;
	}
	if (!ptr->s) {
		if (ext) {
			ptr->s = find_ext(ptr->p, &sel);
			if (ptr->s)
				ptr->section = ptr->s->e.name;
		} else
			ptr->s = sec_find(ptr->p, ptr->section);
	} else if (!ptr->section)
		ptr->section = ptr->s->e.name;
	if (!ptr->s)
		return 0;
	ptr->last = &ptr->s->e;
	if (!ptr->option && !ptr->o) {
		ptr->flags |= UCI_LOOKUP_COMPLETE;
		return 0;
	}
	if (!ptr->o)
		ptr->o = opt_find(ptr->s, ptr->option);
	else if (!ptr->option)
		ptr->option = ptr->o->e.name;
	if (!ptr->o)
		return 0;
	ptr->last = &ptr->o->e;
	ptr->flags |= UCI_LOOKUP_COMPLETE;
	return 0;
}

UCI_EXPORT int uci_lookup_ptr(struct uci_context *ctx, struct uci_ptr *ptr, char *str, bool extended)
{
	UCI_ENTER(ctx);
	if (!ptr)
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (str) {
		int r = split_key(ptr, str);
		if (r) {
			memset(ptr, 0, sizeof(*ptr));
			return uci_fail(ctx, r);
		}
	} else {
		if (!ptr->package && !ptr->p)
			return uci_fail(ctx, UCI_ERR_INVAL);
		if (!ptr->package)
			ptr->package = ptr->p->e.name;
		ptr->flags &= ~(UCI_LOOKUP_DONE | UCI_LOOKUP_COMPLETE);
		if (ptr->section && !ptr->s && !uci_name_ok(ptr->section))
			ptr->flags |= UCI_LOOKUP_EXTENDED;
	}
	return resolve(ctx, ptr, extended);
}

/* Used by the editing calls on a pointer that was filled by hand. */
int lookup_if_needed(struct uci_context *ctx, struct uci_ptr *ptr)
{
	if (ptr->flags & UCI_LOOKUP_DONE)
		return 0;
	return uci_lookup_ptr(ctx, ptr, NULL, false);
}
