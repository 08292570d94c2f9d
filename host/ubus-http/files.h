/*
 * files.h - the document roots: which file a GET may read
 */
#ifndef UBUS_HTTP_FILES_H
#define UBUS_HTTP_FILES_H

#include <stddef.h>
#include <sys/stat.h>

#define FILES_MAX_ROOTS	8

/* Takes the roots' real paths; a root that does not resolve is reported and left out. */
void files_init(const char *const *roots, int n_roots);
void files_done(void);

/*
 * Opens what URL names in the first root that has it as a regular file:
 * a descriptor (st filled, name = the root's path joined with URL, for its
 * type), or -1.
 */
int files_open(const char *url, struct stat *st, char *name, size_t size);

#endif
