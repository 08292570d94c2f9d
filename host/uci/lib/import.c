/* Import: a package read from a stream instead of the config directory. */
#include <stdio.h>

#include "store.h"

UCI_EXPORT int uci_import(struct uci_context *ctx, FILE *stream, const char *name, struct uci_package **package,
			  bool single)
{
	UCI_ENTER(ctx);
	if (!stream || !name || !uci_pkgname_ok(name))
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (find_pkg(ctx, name))
		return uci_fail(ctx, UCI_ERR_DUPLICATE);
	struct sbuf b = { 0 };
	char chunk[4096];
	size_t n;
	while ((n = fread(chunk, 1, sizeof(chunk), stream)) > 0)
		sb_put(&b, chunk, n);
	if (b.fail) {
		sb_free(&b);
		return uci_fail(ctx, UCI_ERR_MEM);
	}
	struct uci_package *p = pkg_new(ctx, name, NULL);
	int r = p ? parse_config(ctx, p, b.d ? b.d : "", b.len) : UCI_ERR_MEM;
	sb_free(&b);
	if (r) {
		if (p)
			pkg_free(p);
		return uci_fail(ctx, r);
	}
	ul_add_tail(&ctx->root, &p->e.list);
	if (package)
		*package = p;
	return 0;
}

UCI_EXPORT int uci_parse_argument(struct uci_context *ctx, FILE *stream, char **str, char **result)
{
	UCI_ENTER(ctx);
	return uci_fail(ctx, UCI_ERR_INVAL);
}
