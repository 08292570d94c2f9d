/* Commit: the package with its saved changes written over its config file. */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store.h"

/* Writes p's text to a temp file next to the real config file and renames it
 * over that file, then empties the save file. Caller holds the exclusive lock
 * on the old file (oldfd) and on the save file (savefd, -1 if none).
 *
 * Killed at any step this leaves the old file with all its pending changes,
 * or the new file whose mark tells readers to skip the changes it holds.
 * The new file stays locked until the save file is empty, so a reader never
 * sees it together with the changes it already holds. */
static int replace_file(struct uci_context *ctx, struct uci_package *p, const char *path, int oldfd, int savefd)
{
	struct sbuf b = { 0 };
	struct stat st;
	char real[PATH_MAX];
	off_t savelen = -1;
	int r = 0;

	export_text(&b, p, false, false);
	if (b.fail) {
		sb_free(&b);
		return UCI_ERR_MEM;
	}
	const char *target = realpath(path, real) ? real : path;
	const char *slash = strrchr(target, '/');
	size_t dl = slash ? (size_t)(slash - target) : 0;
	const char *base = slash ? slash + 1 : target;
	char *tmp = malloc(dl + strlen(base) + 16);
	if (!tmp) {
		sb_free(&b);
		return UCI_ERR_MEM;
	}
	if (slash)
		sprintf(tmp, "%.*s/.%s.uci-XXXXXX", (int)dl, target, base);
	else
		sprintf(tmp, ".%s.uci-XXXXXX", base);
	int fd = mkstemp(tmp);
	if (fd < 0) {
		free(tmp);
		sb_free(&b);
		return UCI_ERR_IO;
	}
	lock_fd(fd, LOCK_EX);
	if (write_all(fd, b.d, b.len) || fsync(fd) < 0)
		r = UCI_ERR_IO;
	sb_free(&b);
	if (!r && fstat(oldfd, &st) == 0)
		fchmod(fd, st.st_mode & 07777);
	if (!r && savefd >= 0)
		r = mark_committed(savefd, fd, &savelen);
	if (!r && rename(tmp, target) < 0) {
		r = UCI_ERR_IO;
		/* the mark must not outlive the file it names */
		if (savelen >= 0 && ftruncate(savefd, savelen) < 0)
			savelen = -1;
	}
	if (r)
		unlink(tmp);
	else if (savefd >= 0 && ftruncate(savefd, 0) < 0)
		r = UCI_ERR_IO;
	lock_fd(fd, LOCK_UN);
	close(fd);
	free(tmp);
	return r;
}

static int commit_merge(struct uci_context *ctx, struct uci_package **pp)
{
	struct uci_package *p = *pp;
	char pb[STACK_PATH];
	struct stat st;
	int fd, r;

	char *path = join(pb, sizeof(pb), ctx->confdir, p->e.name);
	if (!path)
		return UCI_ERR_MEM;
	r = lock_config_exclusive(path, &fd);
	if (r) {
		unjoin(path, pb);
		return r;
	}
	r = save_deltas(ctx, p);
	/* Hold the save file from reading it until it is emptied, so a
	 * concurrent save cannot slip in between and be lost. */
	int savefd = r ? -1 : open_savefile_locked(ctx, p->e.name);
	struct uci_package *np = NULL;
	if (!r)
		r = parse_fd(ctx, fd, p->e.name, path, &np);
	if (!r) {
		np->has_delta = true;
		int n = apply_deltas(ctx, np, fstat(fd, &st) ? NULL : &st, true, savefd);
		if (n < 0) {
			r = -n;
			pkg_free(np);
		} else {
			ul_insert_before(&p->e.list, &np->e.list);
			pkg_free(p);
			*pp = np;
			if (n > 0)
				r = replace_file(ctx, np, path, fd, savefd);
			if (!r && n > 0 && !pkg_as_written(np))
				r = UCI_ERR_MEM;
		}
	}
	if (savefd >= 0)
		close(savefd);
	close(fd);
	unjoin(path, pb);
	return r;
}

static int commit_overwrite(struct uci_context *ctx, struct uci_package *p)
{
	char pb[STACK_PATH];
	char *path = p->path ? p->path : join(pb, sizeof(pb), ctx->confdir, p->e.name);
	if (!path)
		return UCI_ERR_MEM;
	int fd, r = lock_config_exclusive(path, &fd);
	if (!r) {
		int savefd = p->has_delta ? open_savefile_locked(ctx, p->e.name) : -1;
		r = replace_file(ctx, p, path, fd, savefd);
		if (!r)
			delta_free_list(&p->delta);
		if (!r && !pkg_as_written(p))
			r = UCI_ERR_MEM;
		if (savefd >= 0)
			close(savefd);
		close(fd);
	}
	if (path != p->path)
		unjoin(path, pb);
	return r;
}

UCI_EXPORT int uci_commit(struct uci_context *ctx, struct uci_package **p, bool overwrite)
{
	UCI_ENTER(ctx);
	if (!p || !*p)
		return uci_fail(ctx, UCI_ERR_INVAL);
	int r;
	if (overwrite || !(*p)->has_delta) {
		if (!overwrite && !(*p)->path)
			return uci_fail(ctx, UCI_ERR_INVAL);
		r = commit_overwrite(ctx, *p);
	} else
		r = commit_merge(ctx, p);
	return r ? uci_fail(ctx, r) : 0;
}
