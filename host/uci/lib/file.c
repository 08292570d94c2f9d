/* The file store: loading, saving changes, commit, revert, export, listing. */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

#define STACK_PATH 256
#define STACK_FILE 4096

/* "dir/name" in buf when it fits, else on the heap (caller frees when != buf). */
static char *join(char *buf, size_t sz, const char *dir, const char *name)
{
	size_t dl = strlen(dir), nl = strlen(name);
	char *p = dl + nl + 2 <= sz ? buf : malloc(dl + nl + 2);
	if (!p)
		return NULL;
	memcpy(p, dir, dl);
	p[dl] = '/';
	memcpy(p + dl + 1, name, nl + 1);
	return p;
}

static void unjoin(char *p, char *buf)
{
	if (p != buf)
		free(p);
}

static void lock_fd(int fd, int op)
{
	while (flock(fd, op) < 0 && errno == EINTR)
		;
}

int read_whole(int fd, char *stack, size_t stacksz, char **out, size_t *outlen)
{
	struct stat st;
	size_t cap = stacksz, len = 0;
	char *b = stack;

	if (fstat(fd, &st) == 0 && (size_t)st.st_size >= stacksz) {
		cap = (size_t)st.st_size + 1;
		if (!(b = malloc(cap)))
			return UCI_ERR_MEM;
	}
	for (;;) {
		if (len == cap) {
			size_t ncap = cap * 2;
			char *nb = b == stack ? malloc(ncap) : realloc(b, ncap);
			if (!nb)
				goto nomem;
			if (b == stack)
				memcpy(nb, stack, len);
			b = nb;
			cap = ncap;
		}
		ssize_t r = read(fd, b + len, cap - len);
		if (r < 0 && errno == EINTR)
			continue;
		if (r < 0) {
			if (b != stack)
				free(b);
			return UCI_ERR_IO;
		}
		if (r == 0)
			break;
		len += (size_t)r;
	}
	*out = b;
	*outlen = len;
	return 0;
nomem:
	if (b != stack)
		free(b);
	return UCI_ERR_MEM;
}

static int write_all(int fd, const char *b, size_t n)
{
	while (n) {
		ssize_t r = write(fd, b, n);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return UCI_ERR_IO;
		b += r;
		n -= (size_t)r;
	}
	return 0;
}

/* Opens a file that must be a regular one; st receives its status.
 * O_NONBLOCK keeps a FIFO or a device put in its place from stalling the
 * caller in open(); such files are refused before anything reads them. On
 * a regular file the flag changes nothing, so it stays. */
static int open_regular(const char *path, int flags, mode_t mode, int *fdp, struct stat *st)
{
	int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
	if (fd < 0)
		return (errno == ENOENT || errno == ENOTDIR) ? UCI_ERR_NOTFOUND : UCI_ERR_IO;
	if (fstat(fd, st) < 0 || !S_ISREG(st->st_mode)) {
		close(fd);
		return UCI_ERR_NOTFOUND;
	}
	*fdp = fd;
	return 0;
}

static bool same_file(const struct stat *a, const char *path)
{
	struct stat b;
	return stat(path, &b) == 0 && a->st_ino == b.st_ino && a->st_dev == b.st_dev;
}

/* Opens a config file for reading under a shared lock. A commit replaces the
 * file by rename while holding the old one's lock, so after locking make sure
 * the path still names the file we hold; otherwise start over on the new one.
 * Under a stream of commits a reader could chase new files for ever: after a
 * few rounds it keeps the one it holds, an older but complete version. */
#define OPEN_CONFIG_ROUNDS 8

static int open_config_shared(const char *path, int *fdp, struct stat *st)
{
	for (int round = 1;; round++) {
		int fd, r = open_regular(path, O_RDONLY, 0, &fd, st);
		if (r)
			return r;
		lock_fd(fd, LOCK_SH);
		if (round == OPEN_CONFIG_ROUNDS || same_file(st, path)) {
			*fdp = fd;
			return 0;
		}
		close(fd);
	}
}

/* The same for a commit, which must not give up: writing on top of a file
 * that another commit has already replaced would lose that commit. Every
 * round lost means another commit finished, so this ends. */
#define LOCK_CONFIG_ROUNDS 10000

static int lock_config_exclusive(const char *path, int *fdp)
{
	for (int round = 0; round < LOCK_CONFIG_ROUNDS; round++) {
		struct stat st;
		int fd, r = open_regular(path, O_RDWR | O_CREAT, UCI_FILEMODE, &fd, &st);
		if (r)
			return r == UCI_ERR_NOTFOUND ? UCI_ERR_IO : r;
		lock_fd(fd, LOCK_EX);
		if (same_file(&st, path)) {
			*fdp = fd;
			return 0;
		}
		close(fd);
	}
	return UCI_ERR_IO;
}

/* A commit that got as far as renaming the new file into place but not as
 * far as emptying the save file leaves this line at the save file's end: the
 * changes above it are already in the config file it names. */
#define COMMIT_MARK "#uci-committed "

static int format_mark(char *buf, size_t sz, const struct stat *st)
{
	return snprintf(buf, sz, COMMIT_MARK "%llu %llu %lld %lld.%09ld\n", (unsigned long long)st->st_dev,
			(unsigned long long)st->st_ino, (long long)st->st_size, (long long)st->st_mtim.tv_sec,
			(long)st->st_mtim.tv_nsec);
}

/* Offset just past the last complete mark naming the loaded config file,
 * or 0 when the save file's changes are all still pending. */
static size_t committed_prefix(const char *buf, size_t len, const struct stat *cfg)
{
	char mark[128];
	int ml;
	if (!cfg || !memchr(buf, '#', len))
		return 0;
	if ((ml = format_mark(mark, sizeof(mark), cfg)) <= 0 || (size_t)ml >= sizeof(mark))
		return 0;
	size_t skip = 0;
	for (size_t off = 0; off + (size_t)ml <= len;) {
		const char *nl = memchr(buf + off, '\n', len - off);
		size_t end = nl ? (size_t)(nl - buf) + 1 : len;
		if (end - off == (size_t)ml && !memcmp(buf + off, mark, (size_t)ml))
			skip = end;
		off = end;
	}
	return skip;
}

/* Replays the delta files of every delta path onto p, which was loaded
 * from the config file described by cfg. A commit passes its locked save
 * file (or -1 when there was none: a save file made meanwhile is left for
 * the next commit). Returns changes applied or -err. */
static int apply_deltas(struct uci_context *ctx, struct uci_package *p, const struct stat *cfg, bool commit,
			int savefd)
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

static struct uci_package *find_pkg(struct uci_context *ctx, const char *name)
{
	for (struct uci_list *l = ctx->root.next; l != &ctx->root; l = l->next) {
		struct uci_package *p = (struct uci_package *)l;
		if (!strcmp(p->e.name, name))
			return p;
	}
	return NULL;
}

static int parse_fd(struct uci_context *ctx, int fd, const char *name, const char *path,
		    struct uci_package **res)
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

static int save_deltas(struct uci_context *ctx, struct uci_package *p)
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

void export_text(struct sbuf *b, struct uci_package *p, bool header, bool names)
{
	struct uci_element *se, *oe, *ie;
	if (header) {
		sb_puts(b, "package ");
		sb_puts(b, p->e.name);
		sb_putc(b, '\n');
	}
	uci_foreach_element(&p->sections, se) {
		struct uci_section *s = uci_to_section(se);
		sb_puts(b, "\nconfig ");
		/* Types go out bare like everywhere else, except the few that
		 * would not read back that way (a quote, backslash, '#' or ';'). */
		if (strpbrk(s->type, "'\"\\#;"))
			sb_quoted(b, s->type);
		else
			sb_puts(b, s->type);
		if (!s->anonymous || names) {
			sb_putc(b, ' ');
			sb_quoted(b, s->e.name);
		}
		sb_putc(b, '\n');
		uci_foreach_element(&s->options, oe) {
			struct uci_option *o = uci_to_option(oe);
			if (o->type == UCI_TYPE_STRING) {
				sb_puts(b, "\toption ");
				sb_puts(b, o->e.name);
				sb_putc(b, ' ');
				sb_quoted(b, o->v.string);
				sb_putc(b, '\n');
				continue;
			}
			uci_foreach_element(&o->v.list, ie) {
				sb_puts(b, "\tlist ");
				sb_puts(b, o->e.name);
				sb_putc(b, ' ');
				sb_quoted(b, ie->name);
				sb_putc(b, '\n');
			}
		}
	}
	sb_putc(b, '\n');
}

UCI_EXPORT int uci_export(struct uci_context *ctx, FILE *stream, struct uci_package *package, bool header)
{
	UCI_ENTER(ctx);
	if (!stream || !package)
		return uci_fail(ctx, UCI_ERR_INVAL);
	struct sbuf b = { 0 };
	export_text(&b, package, header, ctx->flags & UCI_FLAG_EXPORT_NAME);
	int r = b.fail ? UCI_ERR_MEM : 0;
	if (!r && fwrite(b.d, 1, b.len, stream) != b.len)
		r = UCI_ERR_IO;
	sb_free(&b);
	return r ? uci_fail(ctx, r) : 0;
}

/* Appends the mark for the new file to the save file. No fsync: the save
 * directory lives in RAM, and a killed process loses no written data. */
static int mark_committed(int savefd, int newfd, off_t *oldlen)
{
	struct stat st, sst;
	char mark[128];
	if (fstat(newfd, &st) < 0 || fstat(savefd, &sst) < 0)
		return UCI_ERR_IO;
	*oldlen = sst.st_size;
	int ml = format_mark(mark, sizeof(mark), &st);
	if (ml <= 0 || (size_t)ml >= sizeof(mark))
		return UCI_ERR_IO;
	if (lseek(savefd, 0, SEEK_END) < 0 || write_all(savefd, mark, (size_t)ml))
		return UCI_ERR_IO;
	return 0;
}

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

static int open_savefile_locked(struct uci_context *ctx, const char *name)
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

static int cmp_str(const void *a, const void *b)
{
	return strcmp(*(char *const *)a, *(char *const *)b);
}

UCI_EXPORT int uci_list_configs(struct uci_context *ctx, char ***list)
{
	UCI_ENTER(ctx);
	if (!list)
		return uci_fail(ctx, UCI_ERR_INVAL);
	DIR *d = opendir(ctx->confdir);
	if (!d)
		return uci_fail(ctx, UCI_ERR_NOTFOUND);
	char **names = NULL;
	size_t n = 0, cap = 0, bytes = 0;
	struct dirent *de;
	char pb[STACK_PATH];
	int r = 0;
	while ((de = readdir(d))) {
		if (strchr(de->d_name, '.') || !uci_pkgname_ok(de->d_name))
			continue;
		struct stat st;
		char *path = join(pb, sizeof(pb), ctx->confdir, de->d_name);
		if (!path) {
			r = UCI_ERR_MEM;
			break;
		}
		bool dir = stat(path, &st) == 0 && S_ISDIR(st.st_mode);
		unjoin(path, pb);
		if (dir)
			continue;
		if (n == cap) {
			cap = cap ? cap * 2 : 16;
			char **nn = realloc(names, cap * sizeof(*nn));
			if (!nn) {
				r = UCI_ERR_MEM;
				break;
			}
			names = nn;
		}
		if (!(names[n] = strdup(de->d_name))) {
			r = UCI_ERR_MEM;
			break;
		}
		bytes += strlen(names[n++]) + 1;
	}
	closedir(d);
	if (!r && !n)
		r = UCI_ERR_NOTFOUND;
	char **block = NULL;
	if (!r) {
		qsort(names, n, sizeof(*names), cmp_str);
		block = malloc((n + 1) * sizeof(char *) + bytes);
		if (!block)
			r = UCI_ERR_MEM;
	}
	if (block) {
		char *s = (char *)(block + n + 1);
		for (size_t i = 0; i < n; i++) {
			size_t l = strlen(names[i]) + 1;
			block[i] = memcpy(s, names[i], l);
			s += l;
		}
		block[n] = NULL;
		*list = block;
	}
	for (size_t i = 0; i < n; i++)
		free(names[i]);
	free(names);
	return r ? uci_fail(ctx, r) : 0;
}

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
