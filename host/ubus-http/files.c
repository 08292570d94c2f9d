/*
 * files.c - the document roots: which file a GET may read
 *
 * Only regular files are served, and only from inside a root's real path.
 * A name is resolved first and what it names looked at without opening it,
 * so a FIFO or a device is never opened (a FIFO would wait for a writer).
 * A link that leads out of the root is not found there, like a name with
 * "..": 404, which says nothing about what lies outside. The file is then
 * opened without following a link and checked again, in case it changed.
 */
#include <fcntl.h>
#include <limits.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "files.h"

static char *roots[FILES_MAX_ROOTS];
static int n_roots;

void files_init(const char *const *dirs, int n)
{
	int i;

	for (i = 0; i < n && n_roots < FILES_MAX_ROOTS; i++) {
		char *real = realpath(dirs[i], NULL);

		if (!real)
			fprintf(stderr, "ubus-httpd: document root %s not found, left out\n", dirs[i]);
		else
			roots[n_roots++] = real;
	}
}

void files_done(void)
{
	while (n_roots)
		free(roots[--n_roots]);
}

/* No "/.." segment: nothing above the root is even looked at. */
static bool name_safe(const char *url)
{
	const char *p;

	if (url[0] != '/')
		return false;
	for (p = url; (p = strstr(p, "/..")); p += 3)
		if (p[3] == '/' || p[3] == '\0')
			return false;
	return true;
}

static bool inside(const char *real, const char *root)
{
	size_t n = strlen(root);

	if (n == 1)
		return true;
	return !strncmp(real, root, n) && real[n] == '/';
}

static int open_in(const char *root, const char *url, struct stat *st, char *name, size_t size)
{
	char real[PATH_MAX];
	int fd;

	if ((size_t)snprintf(name, size, "%s%s", root, url) >= size)
		return -1;
	if (!realpath(name, real) || !inside(real, root))
		return -1;
	if (lstat(real, st) || !S_ISREG(st->st_mode))
		return -1;
	fd = open(real, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	if (fstat(fd, st) || !S_ISREG(st->st_mode)) {
		close(fd);
		return -1;
	}
	return fd;
}

int files_open(const char *url, struct stat *st, char *name, size_t size)
{
	int i, fd = -1;

	if (!name_safe(url))
		return -1;
	for (i = 0; i < n_roots && fd < 0; i++)
		fd = open_in(roots[i], url, st, name, size);
	return fd;
}
