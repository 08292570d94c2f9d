/*
 * main.c - ubusd: option parsing, the listening socket, the event loop
 */
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <libubox/usock.h>

#include "ubus_common.h"
#include "ubusd.h"

static void server_cb(struct uloop_fd *u, unsigned int events)
{
	for (;;) {
		int fd = accept4(u->fd, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);

		if (fd < 0) {
			if (errno == EINTR)
				continue;
			break;
		}
		ubusd_client_new(fd, true);
	}
	/* the HELLOs */
	ubusd_flush();
}

static int usage(const char *progname)
{
	fprintf(stderr, "Usage: %s [<options>]\n"
		"Options: \n"
		"  -A <path>:\t\tSet the path to ACL files\n"
		"  -s <socket>:\t\tSet the unix domain socket to listen on\n"
		"\n", progname);
	return 1;
}

int main(int argc, char **argv)
{
	static struct uloop_fd server = { .cb = server_cb };
	const char *path = UBUS_UNIX_SOCKET;
	int ch;

	/* ACL files (-A) are accepted for compatibility; every peer is trusted */
	while ((ch = getopt(argc, argv, "A:s:")) != -1) {
		switch (ch) {
		case 's':
			path = optarg;
			break;
		case 'A':
			break;
		default:
			return usage(argv[0]);
		}
	}

	signal(SIGPIPE, SIG_IGN);
	signal(SIGHUP, SIG_IGN);
	uloop_init();
	ubusd_state_init();

	unlink(path);
	umask(0111);
	server.fd = usock(USOCK_UNIX | USOCK_SERVER | USOCK_NONBLOCK, path, NULL);
	if (server.fd < 0) {
		perror("usock");
		return -1;
	}
	uloop_fd_add(&server, ULOOP_READ);
	uloop_run();
	unlink(path);

	uloop_fd_delete(&server);
	close(server.fd);
	ubusd_free_all();
	uloop_done();
	return 0;
}
