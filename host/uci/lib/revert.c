/* Revert: saved changes of a package, section or option dropped. */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "store.h"

static bool revert_match(const struct raw_delta *rd, const char *sec, const char *opt)
{
	if (!sec)
		return true;
	if (!rd->parsed || strcmp(rd->sec, sec))
		return false;
	return !opt || (rd->opt && !strcmp(rd->opt, opt));
}

static int filter_savefile(struct uci_context *ctx, const char *name, const char *sec, const char *opt)
{
	char fb[STACK_FILE];
	int fd = open_savefile_locked(ctx, name);
	if (fd < 0)
		return 0;
	char *buf;
	size_t len;
	int r = read_whole(fd, fb, sizeof(fb), &buf, &len);
	if (r) {
		close(fd);
		return r;
	}
	struct uci_list raw;
	ul_init(&raw);
	struct uci_package *scratch = pkg_new(ctx, name, NULL);
	enum uci_flags saved = ctx->flags;
	ctx->flags &= ~UCI_FLAG_SAVED_DELTA;
	int n = scratch ? parse_delta(ctx, scratch, buf, len, &raw) : -UCI_ERR_MEM;
	ctx->flags = saved;
	if (scratch)
		pkg_free(scratch);
	struct sbuf out = { 0 };
	struct uci_element *e;
	if (n >= 0) {
		uci_foreach_element(&raw, e) {
			struct raw_delta *rd = (struct raw_delta *)e;
			if (!revert_match(rd, sec, opt))
				sb_put(&out, buf + rd->off, rd->len);
		}
		if (out.fail)
			r = UCI_ERR_MEM;
	} else
		r = -n;
	if (!r && (ftruncate(fd, 0) < 0 || lseek(fd, 0, SEEK_SET) < 0 || write_all(fd, out.d, out.len)))
		r = UCI_ERR_IO;
	sb_free(&out);
	elem_free_list(&raw);
	if (buf != fb)
		free(buf);
	close(fd);
	return r;
}

UCI_EXPORT int uci_revert(struct uci_context *ctx, struct uci_ptr *ptr)
{
	UCI_ENTER(ctx);
	if (!ptr)
		return uci_fail(ctx, UCI_ERR_INVAL);
	int r = lookup_if_needed(ctx, ptr);
	if (r || !ptr->p)
		return uci_fail(ctx, r ? r : UCI_ERR_NOTFOUND);
	struct uci_package *p = ptr->p;
	if ((r = save_deltas(ctx, p)))
		return uci_fail(ctx, r);

	size_t nl = strlen(p->e.name) + 1;
	size_t sl = ptr->section ? strlen(ptr->section) + 1 : 0;
	size_t ol = ptr->section && ptr->option ? strlen(ptr->option) + 1 : 0;
	char *copy = malloc(nl + sl + ol);
	if (!copy)
		return uci_fail(ctx, UCI_ERR_MEM);
	char *name = memcpy(copy, p->e.name, nl);
	char *sec = sl ? memcpy(copy + nl, ptr->section, sl) : NULL;
	char *opt = ol ? memcpy(copy + nl + sl, ptr->option, ol) : NULL;
	bool has_delta = p->has_delta;
	pkg_free(p);
	ptr->p = NULL;
	ptr->s = NULL;
	ptr->o = NULL;
	ptr->last = NULL;

	if (has_delta)
		r = filter_savefile(ctx, name, sec, opt);
	if (!r)
		r = uci_load_pkg(ctx, name, &ptr->p);
	free(copy);
	if (!r) {
		/* the key strings may have pointed into the freed package */
		ptr->package = ptr->p->e.name;
		ptr->section = NULL;
		ptr->option = NULL;
	}
	return r ? uci_fail(ctx, r) : 0;
}
