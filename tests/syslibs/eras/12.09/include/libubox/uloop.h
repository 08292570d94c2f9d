/* Test fixture: the early-2013 event loop header (uloop_run returns nothing). */
#ifndef FIXTURE_LIBUBOX_ULOOP_H
#define FIXTURE_LIBUBOX_ULOOP_H

#include <sys/time.h>
#include <stdbool.h>
#include "list.h"

#define ULOOP_READ		(1 << 0)
#define ULOOP_WRITE		(1 << 1)
#define ULOOP_EDGE_TRIGGER	(1 << 2)
#define ULOOP_BLOCKING		(1 << 3)

struct uloop_fd;
struct uloop_timeout;

typedef void (*uloop_fd_handler)(struct uloop_fd *u, unsigned int events);
typedef void (*uloop_timeout_handler)(struct uloop_timeout *t);

struct uloop_fd {
	uloop_fd_handler cb;
	int fd;
	bool eof;
	bool error;
	bool registered;
};

struct uloop_timeout {
	struct list_head list;
	bool pending;
	uloop_timeout_handler cb;
	struct timeval time;
};

extern bool uloop_cancelled;

int uloop_fd_add(struct uloop_fd *sock, unsigned int flags);
int uloop_fd_delete(struct uloop_fd *sock);
int uloop_timeout_set(struct uloop_timeout *timeout, int msecs);
int uloop_timeout_cancel(struct uloop_timeout *timeout);

static inline void uloop_end(void)
{
	uloop_cancelled = true;
}

int uloop_init(void);
void uloop_run(void);
void uloop_done(void);

#endif
