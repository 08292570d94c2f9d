/*
 * usock.c - create unix, TCP or UDP sockets, as client or server
 */
#include "libubox/usock.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <stdbool.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

static int
usock_socket(int type, int family, int sock_type, int protocol)
{
	int flags = 0;

	if (!(type & USOCK_NOCLOEXEC))
		flags |= SOCK_CLOEXEC;
	if (type & USOCK_NONBLOCK)
		flags |= SOCK_NONBLOCK;

	return socket(family, sock_type | flags, protocol);
}

static void
usock_close_keep_errno(int fd)
{
	int saved = errno;

	close(fd);
	errno = saved;
}

static int
usock_bind_or_connect(int fd, int type, int sock_type, const struct sockaddr *sa, socklen_t len)
{
	if (type & USOCK_SERVER) {
		int yes = 1;

		setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
		if (bind(fd, sa, len) < 0)
			return -1;
		if (sock_type == SOCK_STREAM && listen(fd, SOMAXCONN) < 0)
			return -1;
		return 0;
	}

	if (connect(fd, sa, len) < 0 && errno != EINPROGRESS)
		return -1;
	return 0;
}

static int
usock_unix(int type, const char *path, int sock_type)
{
	struct sockaddr_un sun;
	int fd;

	memset(&sun, 0, sizeof(sun));
	sun.sun_family = AF_UNIX;
	if (!path || strlen(path) >= sizeof(sun.sun_path)) {
		errno = EINVAL;
		return -1;
	}
	strcpy(sun.sun_path, path);

	fd = usock_socket(type, AF_UNIX, sock_type, 0);
	if (fd < 0)
		return -1;

	if (usock_bind_or_connect(fd, type, sock_type, (struct sockaddr *) &sun, sizeof(sun)) < 0) {
		usock_close_keep_errno(fd);
		return -1;
	}
	return fd;
}

static struct addrinfo *
usock_resolve(int type, const char *host, const char *service, int sock_type)
{
	struct addrinfo hints, *result = NULL;

	memset(&hints, 0, sizeof(hints));
	hints.ai_family = AF_UNSPEC;
	if (type & USOCK_IPV4ONLY)
		hints.ai_family = AF_INET;
	else if (type & USOCK_IPV6ONLY)
		hints.ai_family = AF_INET6;
	hints.ai_socktype = sock_type;
	if (type & USOCK_SERVER)
		hints.ai_flags |= AI_PASSIVE;
	if (type & USOCK_NUMERIC)
		hints.ai_flags |= AI_NUMERICHOST;

	if (getaddrinfo(host, service, &hints, &result))
		return NULL;
	return result;
}

static int
usock_inet_one(int type, const struct addrinfo *ai, int sock_type)
{
	int fd = usock_socket(type, ai->ai_family, sock_type, ai->ai_protocol);

	if (fd < 0)
		return -1;

	if (ai->ai_family == AF_INET6 && (type & USOCK_IPV6ONLY)) {
		int yes = 1;

		setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof(yes));
	}

	if (usock_bind_or_connect(fd, type, sock_type, ai->ai_addr, ai->ai_addrlen) < 0) {
		usock_close_keep_errno(fd);
		return -1;
	}
	return fd;
}

static int
usock_sock_type(int type)
{
	return (type & 0xff) == USOCK_TCP ? SOCK_STREAM : SOCK_DGRAM;
}

int
usock(int type, const char *host, const char *service)
{
	int sock_type = usock_sock_type(type);
	struct addrinfo *result, *ai;
	int fd = -1;

	if (type & USOCK_UNIX)
		return usock_unix(type, host, sock_type);

	result = usock_resolve(type, host, service, sock_type);
	if (!result) {
		errno = ENOENT;
		return -1;
	}

	for (ai = result; ai; ai = ai->ai_next) {
		fd = usock_inet_one(type, ai, sock_type);
		if (fd >= 0)
			break;
	}
	freeaddrinfo(result);
	return fd;
}

int
usock_wait_ready(int fd, int msecs)
{
	struct pollfd pfd = { .fd = fd, .events = POLLOUT };
	socklen_t len = sizeof(int);
	int err = 0;
	int res;

	do {
		res = poll(&pfd, 1, msecs);
	} while (res < 0 && errno == EINTR);

	if (res == 0)
		return -ETIMEDOUT;
	if (res < 0)
		return errno;

	if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
		return errno;
	return err;
}

int
usock_inet_timeout(int type, const char *host, const char *service, void *addr, int timeout)
{
	int sock_type = usock_sock_type(type);
	struct addrinfo *result, *ai;
	int fd = -1;

	type &= ~USOCK_UNIX;
	result = usock_resolve(type, host, service, sock_type);
	if (!result) {
		errno = ENOENT;
		return -1;
	}

	for (ai = result; ai; ai = ai->ai_next) {
		int err;

		/* connect without blocking, then wait up to the timeout */
		fd = usock_inet_one(type | USOCK_NONBLOCK, ai, sock_type);
		if (fd < 0)
			continue;

		if (!(type & USOCK_SERVER)) {
			err = usock_wait_ready(fd, timeout);
			if (err) {
				close(fd);
				fd = -1;
				errno = err < 0 ? -err : err;
				continue;
			}
		}

		if (!(type & USOCK_NONBLOCK)) {
			int fl = fcntl(fd, F_GETFL);

			if (fl >= 0)
				fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
		}

		if (addr)
			memcpy(addr, ai->ai_addr, ai->ai_addrlen <= sizeof(struct sockaddr_in6) ?
			       ai->ai_addrlen : sizeof(struct sockaddr_in6));
		break;
	}
	freeaddrinfo(result);
	return fd;
}

const char *
usock_port(int port)
{
	static char buffer[sizeof("65535\0")];

	if (port < 0 || port > 65535)
		return NULL;

	snprintf(buffer, sizeof(buffer), "%u", port);
	return buffer;
}
