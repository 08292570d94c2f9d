/* Paths, whole-file reads and writes, and config files opened under locks. */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store.h"

/* "dir/name" in buf when it fits, else on the heap (caller frees when != buf). */
char *join(char *buf, size_t sz, const char *dir, const char *name)
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

void unjoin(char *p, char *buf)
{
	if (p != buf)
		free(p);
}

void lock_fd(int fd, int op)
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

int write_all(int fd, const char *b, size_t n)
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
int open_regular(const char *path, int flags, mode_t mode, int *fdp, struct stat *st)
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

int open_config_shared(const char *path, int *fdp, struct stat *st)
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

int lock_config_exclusive(const char *path, int *fdp)
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
