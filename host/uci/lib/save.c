/* Saving changes: appending them to the package's save file. */
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store.h"

static int ensure_savedir(struct uci_context *ctx)
{
	struct stat st;
	if (stat(ctx->savedir, &st) == 0)
		return S_ISDIR(st.st_mode) ? 0 : UCI_ERR_IO;
	mode_t mode = UCI_DIRMODE;
	if (stat(ctx->confdir, &st) == 0)
		mode = st.st_mode & 07777;
	if (mkdir(ctx->savedir, mode) < 0 && errno != EEXIST)
		return UCI_ERR_IO;
	return 0;
}

int save_deltas(struct uci_context *ctx, struct uci_package *p)
{
	char pb[STACK_PATH];
	struct stat st;
	if (uci_list_empty(&p->delta))
		return 0;
	int r = ensure_savedir(ctx);
	if (r)
		return r;
	mode_t mode = UCI_FILEMODE;
	char *cpath = join(pb, sizeof(pb), ctx->confdir, p->e.name);
	if (!cpath)
		return UCI_ERR_MEM;
	if (stat(cpath, &st) == 0)
		mode = st.st_mode & 0777;
	unjoin(cpath, pb);

	struct sbuf b = { 0 };
	struct uci_element *e;
	uci_foreach_element(&p->delta, e)
		delta_format(&b, p->e.name, uci_to_delta(e));
	if (b.fail) {
		sb_free(&b);
		return UCI_ERR_MEM;
	}
	char *spath = join(pb, sizeof(pb), ctx->savedir, p->e.name);
	if (!spath) {
		sb_free(&b);
		return UCI_ERR_MEM;
	}
	int fd;
	r = open_regular(spath, O_RDWR | O_CREAT | O_APPEND, mode, &fd, &st);
	unjoin(spath, pb);
	if (r) {
		sb_free(&b);
		return UCI_ERR_IO;
	}
	lock_fd(fd, LOCK_EX);
	r = write_all(fd, b.d, b.len);
	lock_fd(fd, LOCK_UN);
	close(fd);
	sb_free(&b);
	if (r)
		return r;
	delta_free_list(&p->delta);
	return 0;
}

int open_savefile_locked(struct uci_context *ctx, const char *name)
{
	char pb[STACK_PATH];
	char *spath = join(pb, sizeof(pb), ctx->savedir, name);
	if (!spath)
		return -1;
	int fd;
	struct stat st;
	int r = open_regular(spath, O_RDWR, 0, &fd, &st);
	unjoin(spath, pb);
	if (r)
		return -1;
	lock_fd(fd, LOCK_EX);
	return fd;
}

UCI_EXPORT int uci_save(struct uci_context *ctx, struct uci_package *p)
{
	UCI_ENTER(ctx);
	if (!p)
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (!p->has_delta)
		return uci_commit(ctx, &p, false);
	int r = save_deltas(ctx, p);
	return r ? uci_fail(ctx, r) : 0;
}
