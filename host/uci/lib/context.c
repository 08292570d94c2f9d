/* Context lifetime, directories, error texts and small exported helpers. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

static char default_confdir[] = UCI_CONFDIR;
static char default_savedir[] = UCI_SAVEDIR;
static char default_conf2dir[] = UCI_CONF2DIR;

static struct uci_element *path_new(const char *dir)
{
	return elem_new(UCI_TYPE_PATH, dir);
}

UCI_EXPORT struct uci_context *uci_alloc_context(void)
{
	struct uci_context *ctx = calloc(1, sizeof(*ctx));
	if (!ctx)
		return NULL;
	ul_init(&ctx->root);
	ul_init(&ctx->backends);
	ul_init(&ctx->delta_path);
	ctx->flags = UCI_FLAG_STRICT | UCI_FLAG_SAVED_DELTA;
	ctx->confdir = default_confdir;
	ctx->savedir = default_savedir;
	ctx->conf2dir = default_conf2dir;
	struct uci_element *e = path_new(default_savedir);
	if (!e) {
		free(ctx);
		return NULL;
	}
	ul_add_tail(&ctx->delta_path, &e->list);
	return ctx;
}

static void free_dir(char *d)
{
	if (d != default_confdir && d != default_savedir && d != default_conf2dir)
		free(d);
}

UCI_EXPORT void uci_free_context(struct uci_context *ctx)
{
	if (!ctx)
		return;
	while (ctx->root.next != &ctx->root)
		pkg_free((struct uci_package *)ctx->root.next);
	elem_free_list(&ctx->delta_path);
	free_dir(ctx->confdir);
	free_dir(ctx->savedir);
	free_dir(ctx->conf2dir);
	free(ctx->pctx);
	free(ctx->buf);
	free(ctx);
}

static int set_dir(struct uci_context *ctx, char **field, const char *dir)
{
	UCI_ENTER(ctx);
	if (!dir)
		return uci_fail(ctx, UCI_ERR_INVAL);
	char *d = strdup(dir);
	if (!d)
		return uci_fail(ctx, UCI_ERR_MEM);
	free_dir(*field);
	*field = d;
	return 0;
}

UCI_EXPORT int uci_set_confdir(struct uci_context *ctx, const char *dir)
{
	return set_dir(ctx, ctx ? &ctx->confdir : NULL, dir);
}

/* Kept for the API; this build never reads an override directory. */
UCI_EXPORT int uci_set_conf2dir(struct uci_context *ctx, const char *dir)
{
	UCI_ENTER(ctx);
	return set_dir(ctx, &ctx->conf2dir, dir ? dir : "");
}

static struct uci_element *find_path(struct uci_context *ctx, const char *dir)
{
	struct uci_element *e;
	uci_foreach_element(&ctx->delta_path, e) {
		if (!strcmp(e->name, dir))
			return e;
	}
	return NULL;
}

UCI_EXPORT int uci_set_savedir(struct uci_context *ctx, const char *dir)
{
	UCI_ENTER(ctx);
	if (!dir)
		return uci_fail(ctx, UCI_ERR_INVAL);
	struct uci_element *e = find_path(ctx, dir);
	if (e)
		ul_del(&e->list);
	else if (!(e = path_new(dir)))
		return uci_fail(ctx, UCI_ERR_MEM);
	ul_add_tail(&ctx->delta_path, &e->list);
	return set_dir(ctx, &ctx->savedir, dir);
}

UCI_EXPORT int uci_add_delta_path(struct uci_context *ctx, const char *dir)
{
	UCI_ENTER(ctx);
	if (!dir)
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (find_path(ctx, dir))
		return uci_fail(ctx, UCI_ERR_DUPLICATE);
	struct uci_element *e = path_new(dir);
	if (!e)
		return uci_fail(ctx, UCI_ERR_MEM);
	struct uci_list *last = ctx->delta_path.prev;
	ul_insert_before(last == &ctx->delta_path ? &ctx->delta_path : last, &e->list);
	return 0;
}

UCI_EXPORT int uci_set_backend(struct uci_context *ctx, const char *name)
{
	UCI_ENTER(ctx);
	if (!name)
		return uci_fail(ctx, UCI_ERR_INVAL);
	return strcmp(name, "file") ? uci_fail(ctx, UCI_ERR_NOTFOUND) : 0;
}

static const char *const errtext[] = {
	[UCI_OK] = "Success",
	[UCI_ERR_MEM] = "Out of memory",
	[UCI_ERR_INVAL] = "Invalid argument",
	[UCI_ERR_NOTFOUND] = "Entry not found",
	[UCI_ERR_IO] = "I/O error",
	[UCI_ERR_PARSE] = "Parse error",
	[UCI_ERR_DUPLICATE] = "Duplicate entry",
	[UCI_ERR_UNKNOWN] = "Unknown error",
};

UCI_EXPORT void uci_get_errorstr(struct uci_context *ctx, char **dest, const char *prefix)
{
	const char *text;
	char detail[160] = "";
	int err = ctx ? ctx->err : UCI_ERR_INVAL;

	text = (err < 0 || err >= UCI_ERR_LAST) ? errtext[UCI_ERR_UNKNOWN] : errtext[err];
	if (ctx && err == UCI_ERR_PARSE && ctx->pctx && ctx->pctx->reason)
		snprintf(detail, sizeof(detail), " (%s) at line %d, byte %d", ctx->pctx->reason, ctx->pctx->line,
			 ctx->pctx->byte);
	size_t need = (prefix ? strlen(prefix) + 2 : 0) + strlen(text) + strlen(detail) + 1;
	char *s = malloc(need);
	if (s)
		snprintf(s, need, "%s%s%s%s", prefix ? prefix : "", prefix ? ": " : "", text, detail);
	if (dest)
		*dest = s;
	else
		free(s);
}

UCI_EXPORT void uci_perror(struct uci_context *ctx, const char *prefix)
{
	char *s = NULL;
	uci_get_errorstr(ctx, &s, prefix);
	if (s)
		fprintf(stderr, "%s\n", s);
	free(s);
}

UCI_EXPORT int uci_lookup_next(struct uci_context *ctx, struct uci_element **e, struct uci_list *list,
			       const char *name)
{
	UCI_ENTER(ctx);
	if (!e || !list || !name)
		return uci_fail(ctx, UCI_ERR_INVAL);
	for (struct uci_list *l = list->next; l != list; l = l->next) {
		struct uci_element *x = list_to_element(l);
		if (x->name && !strcmp(x->name, name)) {
			*e = x;
			return 0;
		}
	}
	return uci_fail(ctx, UCI_ERR_NOTFOUND);
}

UCI_EXPORT bool uci_validate_text(const char *str)
{
	for (; *str; str++) {
		unsigned char c = (unsigned char)*str;
		if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
			return false;
	}
	return true;
}

UCI_EXPORT void uci_parse_section(struct uci_section *s, const struct uci_parse_option *opts, int n_opts,
				  struct uci_option **tb)
{
	struct uci_element *e;
	memset(tb, 0, (size_t)n_opts * sizeof(*tb));
	uci_foreach_element(&s->options, e) {
		struct uci_option *o = uci_to_option(e);
		for (int i = 0; i < n_opts; i++) {
			if (tb[i] || strcmp(opts[i].name, o->e.name))
				continue;
			if (opts[i].type != o->type)
				continue;
			tb[i] = o;
			break;
		}
	}
}

static uint32_t hash_str(uint32_t h, const char *s)
{
	for (; *s; s++)
		h = h * 33 + (unsigned char)*s;
	return h * 33;
}

UCI_EXPORT uint32_t uci_hash_options(struct uci_option **tb, int n_opts)
{
	uint32_t h = 0xdeadc0de;
	for (int i = 0; i < n_opts; i++) {
		struct uci_option *o = tb[i];
		if (!o)
			continue;
		h = hash_str(h ^ (uint32_t)i, o->e.name);
		if (o->type == UCI_TYPE_STRING) {
			h = hash_str(h, o->v.string);
			continue;
		}
		struct uci_element *e;
		uci_foreach_element(&o->v.list, e)
			h = hash_str(h, e->name);
	}
	return h;
}
