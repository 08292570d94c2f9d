/*
 * http.c - the HTTP side: the ubus endpoint and the document roots
 *
 * libmicrohttpd runs on the event loop beside the bus calls: its epoll
 * descriptor is watched there and its timer kept. A request waiting for the
 * bus is suspended and every other connection keeps going. Slow clients are
 * held by the library's limits (idle time, connections per address and in
 * all) and by one deadline it lacks: a request's head and body must be in
 * within the keep-alive time of the connection opening or of the previous
 * answer, however slowly they trickle.
 */
#include <arpa/inet.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <microhttpd.h>
#include <libubox/list.h>
#include <libubox/uloop.h>

#include "files.h"
#include "http.h"
#include "rpc.h"

/* in all, as far as the descriptors allow, and from any one address */
#define CONNECTIONS_MAX		4096
#define CONNECTIONS_PER_ADDR	32
/* descriptors kept for everything but connections */
#define FDS_RESERVED		64

/* Per connection: when the request coming in is due. */
struct conn {
	struct list_head waiting;
	int64_t due;
	struct MHD_Connection *c;
};

/* Per request to the endpoint: the body as it arrives, then its answer. */
struct request {
	char *buf;
	size_t len;
	bool oversized;
	struct MHD_Connection *c;
	struct rpc_batch *batch;	/* while suspended for the bus */
	struct list_head suspended;
	bool answered;
	char *reply;
};

static struct MHD_Daemon *daemon_handle;
static struct http_config config;
static struct uloop_fd mhd_fd;
static struct uloop_timeout mhd_timer;
static LIST_HEAD(suspended);
static bool stopping;

/*
 * Connections waiting for a request, oldest first: every wait is as long,
 * so this is also the order they fall due in, and one timer serves them.
 */
static LIST_HEAD(waiting);
static struct uloop_timeout overdue_timer;

static const struct {
	const char *ext;
	const char *type;
} mime_types[] = {
	{ ".html", "text/html; charset=utf-8" },
	{ ".js", "application/javascript; charset=utf-8" },
	{ ".css", "text/css; charset=utf-8" },
	{ ".json", "application/json" },
	{ ".svg", "image/svg+xml" },
	{ ".png", "image/png" },
	{ ".ico", "image/x-icon" },
};

static const char *mime_type(const char *path)
{
	const char *dot = strrchr(path, '.');
	size_t i;

	for (i = 0; dot && i < sizeof(mime_types) / sizeof(mime_types[0]); i++)
		if (!strcmp(dot, mime_types[i].ext))
			return mime_types[i].type;
	return "application/octet-stream";
}

static enum MHD_Result reply(struct MHD_Connection *c, unsigned int status,
			     const char *type, const char *body, bool close)
{
	struct MHD_Response *r;
	enum MHD_Result ret;

	r = MHD_create_response_from_buffer(strlen(body), (void *)body, MHD_RESPMEM_MUST_COPY);
	if (!r)
		return MHD_NO;
	if (type)
		MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
	if (close)
		MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
	ret = MHD_queue_response(c, status, r);
	MHD_destroy_response(r);
	return ret;
}

/* Cross-origin headers, when enabled and the request carries an Origin. */
static void add_cors(struct MHD_Connection *c, struct MHD_Response *r)
{
	const char *origin, *method, *headers;

	if (!config.cors)
		return;
	origin = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Origin");
	method = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Access-Control-Request-Method");
	headers = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Access-Control-Request-Headers");
	if (!origin)
		return;
	if (method && strcmp(method, "GET") && strcmp(method, "POST") && strcmp(method, "OPTIONS"))
		return;
	MHD_add_response_header(r, "Access-Control-Allow-Origin", origin);
	if (headers)
		MHD_add_response_header(r, "Access-Control-Allow-Headers", headers);
	MHD_add_response_header(r, "Access-Control-Allow-Methods", "GET, POST, OPTIONS");
	MHD_add_response_header(r, "Access-Control-Allow-Credentials", "true");
}

static enum MHD_Result reply_json(struct MHD_Connection *c, char *body, bool close)
{
	struct MHD_Response *r;
	enum MHD_Result ret;

	if (!body)
		return MHD_NO;
	r = MHD_create_response_from_buffer(strlen(body), body, MHD_RESPMEM_MUST_FREE);
	if (!r) {
		free(body);
		return MHD_NO;
	}
	MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
	if (close)
		MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
	add_cors(c, r);
	ret = MHD_queue_response(c, MHD_HTTP_OK, r);
	MHD_destroy_response(r);
	return ret;
}

static enum MHD_Result reply_options(struct MHD_Connection *c)
{
	struct MHD_Response *r = MHD_create_response_from_buffer(0, NULL, MHD_RESPMEM_PERSISTENT);
	enum MHD_Result ret;

	if (!r)
		return MHD_NO;
	MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
	add_cors(c, r);
	ret = MHD_queue_response(c, MHD_HTTP_OK, r);
	MHD_destroy_response(r);
	return ret;
}

static enum MHD_Result reply_file(struct MHD_Connection *c, const char *url)
{
	struct MHD_Response *r;
	enum MHD_Result ret;
	char name[4096];
	struct stat st;
	int fd;

	if (!strcmp(url, "/"))
		url = "/index.html";
	fd = files_open(url, &st, name, sizeof(name));
	if (fd < 0)
		return reply(c, MHD_HTTP_NOT_FOUND, "text/plain", "Not Found", false);
	r = MHD_create_response_from_fd((uint64_t)st.st_size, fd);
	if (!r) {
		close(fd);
		return MHD_NO;
	}
	MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, mime_type(name));
	/* pages under development change under the browser */
	MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
	ret = MHD_queue_response(c, MHD_HTTP_OK, r);
	MHD_destroy_response(r);
	return ret;
}

/* 0: the endpoint itself, 1: below it, -1: elsewhere */
static int endpoint_match(const char *url)
{
	size_t n = strlen(config.prefix);

	if (strncmp(url, config.prefix, n))
		return -1;
	if (url[n] == '\0' || !strcmp(url + n, "/"))
		return 0;
	return url[n] == '/' ? 1 : -1;
}

static struct conn *conn_of(struct MHD_Connection *c)
{
	const union MHD_ConnectionInfo *ci = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);

	return ci ? ci->socket_context : NULL;
}

static int64_t now_ms(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void overdue_arm(void)
{
	int64_t left;

	if (list_empty(&waiting)) {
		uloop_timeout_cancel(&overdue_timer);
		return;
	}
	left = list_first_entry(&waiting, struct conn, waiting)->due - now_ms();
	uloop_timeout_set(&overdue_timer, left < 0 ? 0 : left > INT_MAX ? INT_MAX : (int)left);
}

/* The library closes a connection once it finds the socket shut. */
static void overdue(struct uloop_timeout *t)
{
	int64_t now = now_ms();

	while (!list_empty(&waiting)) {
		struct conn *cn = list_first_entry(&waiting, struct conn, waiting);
		const union MHD_ConnectionInfo *ci;

		if (cn->due > now)
			break;
		list_del_init(&cn->waiting);
		ci = MHD_get_connection_info(cn->c, MHD_CONNECTION_INFO_CONNECTION_FD);
		if (ci)
			shutdown(ci->connect_fd, SHUT_RDWR);
	}
	overdue_arm();
}

static void conn_stop_waiting(struct conn *cn)
{
	bool first = waiting.next == &cn->waiting;

	list_del_init(&cn->waiting);
	if (first)
		overdue_arm();
}

/* From now (a request that ended half-way may still be waiting). */
static void conn_await_request(struct conn *cn)
{
	if (!cn || stopping)
		return;
	conn_stop_waiting(cn);
	cn->due = now_ms() + config.keepalive * 1000;
	list_add_tail(&cn->waiting, &waiting);
	if (waiting.next == &cn->waiting)
		overdue_arm();
}

static void conn_notify(void *cls, struct MHD_Connection *c, void **socket_context,
			enum MHD_ConnectionNotificationCode code)
{
	struct conn *cn = *socket_context;

	if (code == MHD_CONNECTION_NOTIFY_STARTED) {
		cn = calloc(1, sizeof(*cn));
		if (!cn)
			return;
		cn->c = c;
		INIT_LIST_HEAD(&cn->waiting);
		conn_await_request(cn);
		*socket_context = cn;
		return;
	}
	if (cn) {
		conn_stop_waiting(cn);
		free(cn);
		*socket_context = NULL;
	}
}

/* The whole request is in: no deadline until it is answered. */
static void request_in(struct MHD_Connection *c)
{
	struct conn *cn = conn_of(c);

	if (cn)
		conn_stop_waiting(cn);
}

static enum MHD_Result take_body(struct request *rq, const char *data, size_t *size)
{
	char *b;

	if (!rq->oversized && rq->len + *size > RPC_BODY_MAX) {
		rq->oversized = true;
		free(rq->buf);
		rq->buf = NULL;
	}
	if (!rq->oversized) {
		b = realloc(rq->buf, rq->len + *size + 1);
		if (!b)
			return MHD_NO;
		memcpy(b + rq->len, data, *size);
		rq->buf = b;
		rq->len += *size;
	}
	*size = 0;
	return MHD_YES;
}

static const char *client_addr(struct MHD_Connection *c, char *buf, size_t size)
{
	const union MHD_ConnectionInfo *ci = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
	const struct sockaddr_in *sa = ci ? (const struct sockaddr_in *)ci->client_addr : NULL;

	if (!sa || sa->sin_family != AF_INET || !inet_ntop(AF_INET, &sa->sin_addr, buf, size))
		snprintf(buf, size, "?");
	return buf;
}

/* The bus has answered: the handler runs again and sends it. */
static void answered(void *priv, char *reply)
{
	struct request *rq = priv;

	rq->batch = NULL;
	rq->answered = true;
	rq->reply = reply;
	list_del_init(&rq->suspended);
	MHD_resume_connection(rq->c);
	/* the library takes it up on its next run, which it does not wake for */
	uloop_timeout_set(&mhd_timer, 0);
}

static enum MHD_Result endpoint_post(struct MHD_Connection *c, struct request *rq,
				     const char *data, size_t *size)
{
	char addr[INET_ADDRSTRLEN], *text;

	if (rq->answered) {
		text = rq->reply;
		rq->reply = NULL;
		return reply_json(c, text, false);
	}
	if (*size)
		return take_body(rq, data, size);
	request_in(c);
	if (rq->oversized)
		return reply_json(c, rpc_reply_parse_error(), true);
	text = rpc_handle(rq->buf ? rq->buf : "", rq->len, client_addr(c, addr, sizeof(addr)),
			  answered, rq, &rq->batch);
	if (!rq->batch)
		return reply_json(c, text, false);
	MHD_suspend_connection(c);
	list_add(&rq->suspended, &suspended);
	return MHD_YES;
}

static enum MHD_Result handle(void *cls, struct MHD_Connection *c, const char *url,
			      const char *method, const char *version, const char *data,
			      size_t *size, void **con_cls)
{
	struct request *rq = *con_cls;
	int where = endpoint_match(url);

	if (stopping)
		return MHD_NO;
	if (rq)
		return endpoint_post(c, rq, data, size);
	if (!strcmp(method, MHD_HTTP_METHOD_POST) && where == 0) {
		rq = calloc(1, sizeof(*rq));
		if (!rq)
			return MHD_NO;
		rq->c = c;
		INIT_LIST_HEAD(&rq->suspended);
		*con_cls = rq;
		return MHD_YES;
	}
	request_in(c);
	if (!strcmp(method, MHD_HTTP_METHOD_OPTIONS))
		return reply_options(c);
	if (!strcmp(method, MHD_HTTP_METHOD_GET) || !strcmp(method, MHD_HTTP_METHOD_HEAD))
		return where < 0 ? reply_file(c, url) : reply(c, MHD_HTTP_NOT_FOUND, NULL, "", false);
	if (strcmp(method, MHD_HTTP_METHOD_POST))
		return reply(c, MHD_HTTP_BAD_REQUEST, "text/html",
			     "<h1>Bad Request</h1>Invalid Request", false);
	return reply(c, MHD_HTTP_NOT_FOUND, NULL, "", false);
}

static void request_done(void *cls, struct MHD_Connection *c, void **con_cls,
			 enum MHD_RequestTerminationCode code)
{
	struct request *rq = *con_cls;

	/* on a kept-alive connection the next request is due */
	conn_await_request(conn_of(c));
	if (!rq)
		return;
	if (rq->batch)
		rpc_cancel(rq->batch);
	list_del(&rq->suspended);
	free(rq->buf);
	free(rq->reply);
	free(rq);
	*con_cls = NULL;
}

static void mhd_run(void)
{
	MHD_UNSIGNED_LONG_LONG ms;

	MHD_run(daemon_handle);
	if (MHD_get_timeout(daemon_handle, &ms) == MHD_YES)
		uloop_timeout_set(&mhd_timer, ms > INT_MAX ? INT_MAX : (int)ms);
	else
		uloop_timeout_cancel(&mhd_timer);
}

static void mhd_ready(struct uloop_fd *u, unsigned int events)
{
	mhd_run();
}

static void mhd_due(struct uloop_timeout *t)
{
	mhd_run();
}

/* A connection takes a descriptor, and one more while it sends a file. */
static unsigned int connection_limit(void)
{
	const rlim_t want = 2 * CONNECTIONS_MAX + FDS_RESERVED;
	struct rlimit rl;

	if (getrlimit(RLIMIT_NOFILE, &rl))
		return FDS_RESERVED;
	if (rl.rlim_cur < want && rl.rlim_cur < rl.rlim_max) {
		rl.rlim_cur = rl.rlim_max < want ? rl.rlim_max : want;
		if (setrlimit(RLIMIT_NOFILE, &rl))
			getrlimit(RLIMIT_NOFILE, &rl);
	}
	if (rl.rlim_cur < 3 * FDS_RESERVED)
		return FDS_RESERVED;
	return rl.rlim_cur < want ? (rl.rlim_cur - FDS_RESERVED) / 2 : CONNECTIONS_MAX;
}

int http_start(const struct http_config *cfg)
{
	struct sockaddr_in sa = { .sin_family = AF_INET };
	const union MHD_DaemonInfo *info;

	config = *cfg;
	sa.sin_port = htons(cfg->port);
	if (inet_pton(AF_INET, cfg->address, &sa.sin_addr) != 1) {
		fprintf(stderr, "ubus-httpd: bad listen address %s\n", cfg->address);
		return -1;
	}
	daemon_handle = MHD_start_daemon(
		MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME,
		0, NULL, NULL, handle, NULL,
		MHD_OPTION_SOCK_ADDR, (struct sockaddr *)&sa,
		MHD_OPTION_NOTIFY_COMPLETED, request_done, NULL,
		MHD_OPTION_NOTIFY_CONNECTION, conn_notify, NULL,
		MHD_OPTION_CONNECTION_TIMEOUT, (unsigned int)cfg->keepalive,
		MHD_OPTION_CONNECTION_LIMIT, connection_limit(),
		MHD_OPTION_PER_IP_CONNECTION_LIMIT, (unsigned int)CONNECTIONS_PER_ADDR,
		/* request line and headers must fit here; larger ones get 431 */
		MHD_OPTION_CONNECTION_MEMORY_LIMIT, (size_t)(32 * 1024),
		MHD_OPTION_LISTEN_BACKLOG_SIZE, 256u,
		MHD_OPTION_END);
	if (!daemon_handle)
		return -1;
	info = MHD_get_daemon_info(daemon_handle, MHD_DAEMON_INFO_EPOLL_FD);
	mhd_fd.fd = info ? info->epoll_fd : -1;
	mhd_fd.cb = mhd_ready;
	mhd_timer.cb = mhd_due;
	overdue_timer.cb = overdue;
	if (mhd_fd.fd < 0 || uloop_fd_add(&mhd_fd, ULOOP_READ)) {
		http_stop();
		return -1;
	}
	mhd_run();
	info = MHD_get_daemon_info(daemon_handle, MHD_DAEMON_INFO_BIND_PORT);
	return info ? info->port : cfg->port;
}

/* Waiting requests are dropped; the library closes every connection. */
void http_stop(void)
{
	struct request *rq, *tmp;

	if (!daemon_handle)
		return;
	stopping = true;
	list_for_each_entry_safe(rq, tmp, &suspended, suspended) {
		list_del_init(&rq->suspended);
		rpc_cancel(rq->batch);
		rq->batch = NULL;
		MHD_resume_connection(rq->c);
	}
	uloop_fd_delete(&mhd_fd);
	uloop_timeout_cancel(&mhd_timer);
	uloop_timeout_cancel(&overdue_timer);
	MHD_stop_daemon(daemon_handle);
	daemon_handle = NULL;
}
