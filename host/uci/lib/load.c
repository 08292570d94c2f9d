/* Loading a package: its config file, then the changes of every delta path. */
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store.h"

struct uci_package *find_pkg(struct uci_context *ctx, const char *name)
{
	for (struct uci_list *l = ctx->root.next; l != &ctx->root; l = l->next) {
		struct uci_package *p = (struct uci_package *)l;
		if (!strcmp(p->e.name, name))
			return p;
	}
	return NULL;
}

int parse_fd(struct uci_context *ctx, int fd, const char *name, const char *path, struct uci_package **res)
{
	char fb[STACK_FILE];
	char *buf;
	size_t len;
	int r = read_whole(fd, fb, sizeof(fb), &buf, &len);
	if (r)
		return r;
	struct uci_package *p = pkg_new(ctx, name, path);
	if (!p)
		r = UCI_ERR_MEM;
	else
		r = parse_config(ctx, p, buf, len);
	if (buf != fb)
		free(buf);
	if (r && p) {
		pkg_free(p);
		p = NULL;
	}
	*res = p;
	return r;
}

/* Replays the delta files of every delta path onto p, which was loaded
 * from the config file described by cfg. A commit passes its locked save
 * file (or -1 when there was none: a save file made meanwhile is left for
 * the next commit). Returns changes applied or -err. */
int apply_deltas(struct uci_context *ctx, struct uci_package *p, const struct stat *cfg, bool commit, int savefd)
{
	int total = 0;
	struct uci_element *e;
	char pb[STACK_PATH], fb[STACK_FILE];

	uci_foreach_element(&ctx->delta_path, e) {
		int fd = -1;
		bool own = true;
		if (commit && !strcmp(e->name, ctx->savedir)) {
			if (savefd < 0)
				continue;
			fd = savefd;
			own = false;
			lseek(fd, 0, SEEK_SET);
		} else {
			char *path = join(pb, sizeof(pb), e->name, p->e.name);
			if (!path)
				return -UCI_ERR_MEM;
			struct stat st;
			int r = open_regular(path, O_RDONLY, 0, &fd, &st);
			unjoin(path, pb);
			if (r)
				continue;
			lock_fd(fd, LOCK_SH);
		}
		char *buf;
		size_t len;
		int r = read_whole(fd, fb, sizeof(fb), &buf, &len);
		if (own)
			close(fd);
		if (r)
			return r == UCI_ERR_MEM ? -r : total;
		size_t skip = committed_prefix(buf, len, cfg);
		int n = parse_delta(ctx, p, buf + skip, len - skip, NULL);
		if (buf != fb)
			free(buf);
		if (n < 0)
			return n;
		total += n;
	}
	return total;
}

int uci_load_pkg(struct uci_context *ctx, const char *name, struct uci_package **res)
{
	const char *pkgname = name;
	bool is_path = name[0] == '/' || (name[0] == '.' && name[1] == '/');
	char pb[STACK_PATH];

	if (is_path)
		pkgname = strrchr(name, '/') + 1;
	else if (name[0] == '.')
		return UCI_ERR_NOTFOUND;
	if (!uci_pkgname_ok(pkgname))
		return is_path ? UCI_ERR_NOTFOUND : UCI_ERR_INVAL;
	if (find_pkg(ctx, pkgname))
		return UCI_ERR_DUPLICATE;

	char *path = is_path ? (char *)name : join(pb, sizeof(pb), ctx->confdir, name);
	if (!path)
		return UCI_ERR_MEM;
	struct stat st;
	int fd, r = open_config_shared(path, &fd, &st);
	struct uci_package *p = NULL;
	if (!r) {
		r = parse_fd(ctx, fd, pkgname, path, &p);
		if (!r && !is_path) {
			p->has_delta = true;
			int n = apply_deltas(ctx, p, &st, false, -1);
			if (n < 0) {
				r = -n;
				pkg_free(p);
				p = NULL;
			}
		}
		close(fd);
	}
	if (!is_path)
		unjoin(path, pb);
	if (r)
		return r;
	ul_add_tail(&ctx->root, &p->e.list);
	*res = p;
	return 0;
}

UCI_EXPORT int uci_load(struct uci_context *ctx, const char *name, struct uci_package **package)
{
	UCI_ENTER(ctx);
	if (!name)
		return uci_fail(ctx, UCI_ERR_INVAL);
	struct uci_package *p;
	int r = uci_load_pkg(ctx, name, &p);
	if (r)
		return uci_fail(ctx, r);
	if (package)
		*package = p;
	return 0;
}

UCI_EXPORT int uci_unload(struct uci_context *ctx, struct uci_package *p)
{
	UCI_ENTER(ctx);
	if (!p)
		return uci_fail(ctx, UCI_ERR_INVAL);
	pkg_free(p);
	return 0;
}
