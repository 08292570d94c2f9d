/* Private declarations of the file store: config files, save files, commit. */
#ifndef UCI_STORE_H
#define UCI_STORE_H

#include <sys/stat.h>
#include <sys/types.h>

#include "internal.h"

/* Buffers on the stack for the usual path and file; larger ones go to the heap. */
#define STACK_PATH 256
#define STACK_FILE 4096

/* --- file access (fileio.c) --- */
char *join(char *buf, size_t sz, const char *dir, const char *name);
void unjoin(char *p, char *buf);
void lock_fd(int fd, int op);
int read_whole(int fd, char *stack, size_t stacksz, char **out, size_t *outlen);
int write_all(int fd, const char *b, size_t n);
int open_regular(const char *path, int flags, mode_t mode, int *fdp, struct stat *st);
int open_config_shared(const char *path, int *fdp, struct stat *st);
int lock_config_exclusive(const char *path, int *fdp);

/* --- commit mark in the save file (commit_mark.c) --- */
size_t committed_prefix(const char *buf, size_t len, const struct stat *cfg);
int mark_committed(int savefd, int newfd, off_t *oldlen);

/* --- loading (load.c) --- */
struct uci_package *find_pkg(struct uci_context *ctx, const char *name);
int parse_fd(struct uci_context *ctx, int fd, const char *name, const char *path, struct uci_package **res);
int apply_deltas(struct uci_context *ctx, struct uci_package *p, const struct stat *cfg, bool commit, int savefd);

/* --- save file (save.c) --- */
int save_deltas(struct uci_context *ctx, struct uci_package *p);
int open_savefile_locked(struct uci_context *ctx, const char *name);

#endif
