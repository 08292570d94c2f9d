/*
 * usock.h - socket creation helper (unix, TCP, UDP; client or server)
 */
#ifndef USOCK_H_
#define USOCK_H_

#ifdef __cplusplus
extern "C" {
#endif

#define USOCK_TCP 0
#define USOCK_UDP 1

#define USOCK_SERVER		0x0100
#define USOCK_NOCLOEXEC		0x0200
#define USOCK_NONBLOCK		0x0400
#define USOCK_NUMERIC		0x0800
#define USOCK_IPV6ONLY		0x2000
#define USOCK_IPV4ONLY		0x4000
#define USOCK_UNIX		0x8000

/* Static buffer holding the decimal port, or NULL outside 0..65535. */
const char *usock_port(int port);

int usock(int type, const char *host, const char *service);

/* addr, when non-NULL, receives the peer address (struct sockaddr_in6 sized). */
int usock_inet_timeout(int type, const char *host, const char *service,
		       void *addr, int timeout);

static inline int
usock_inet(int type, const char *host, const char *service, void *addr)
{
	return usock_inet_timeout(type, host, service, addr, -1);
}

/* Waits for fd to become writable: 0, -ETIMEDOUT or a positive errno. */
int usock_wait_ready(int fd, int msecs);

#ifdef __cplusplus
}
#endif

#endif /* USOCK_H_ */
