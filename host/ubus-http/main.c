/*
 * ubus-httpd - the router web server's ubus endpoint for development PCs:
 * serves document roots and answers JSON-RPC on the endpoint by calling
 * the bus, checking calls against the acl.d files.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <libubox/uloop.h>

#include "acl.h"
#include "bus.h"
#include "files.h"
#include "http.h"
#include "query.h"
#include "rpc.h"
#include "session.h"

#define MAX_LOGINS	16
#define MAX_ACL_DIRS	8

struct options {
	struct http_config http;
	const char *roots[FILES_MAX_ROOTS];
	int n_roots;
	const char *acl_dirs[MAX_ACL_DIRS];
	int n_acl_dirs;
	struct session_login logins[MAX_LOGINS];
	int n_logins;
	const char *sock;
	bool check_access;
	int timeout;
};

static void usage(const char *prog)
{
	fprintf(stderr,
		"usage: %s [options]\n"
		"  -p [ADDR:]PORT   listen there (default 127.0.0.1:8080, port 0 picks one)\n"
		"  -s SOCKET        bus socket (default: the library's)\n"
		"  -u PREFIX        endpoint path (default /ubus)\n"
		"  -h DIR           document root; repeat to layer several, the first hit wins\n"
		"  -A DIR           acl.d directory; repeatable (default /usr/share/rpcd/acl.d)\n"
		"  -L USER:READ:WRITE  a login and its access-group globs, comma-separated,\n"
		"                   \"!glob\" denies; repeatable (default root:*:*)\n"
		"  -a               no session or access checks\n"
		"  -X               answer cross-origin requests\n"
		"  -t SECONDS       bus call timeout (default 60)\n"
		"  -k SECONDS       idle connection timeout, and the time a request may take\n"
		"                   to arrive (default 20)\n",
		prog);
}

static int parse_listen(const char *arg, struct http_config *cfg)
{
	static char addr[64];
	const char *colon = strrchr(arg, ':');
	char *end;
	long port;

	if (colon) {
		if ((size_t)(colon - arg) >= sizeof(addr))
			return -1;
		memcpy(addr, arg, colon - arg);
		addr[colon - arg] = '\0';
		cfg->address = addr;
		arg = colon + 1;
	}
	port = strtol(arg, &end, 10);
	if (*arg == '\0' || *end || port < 0 || port > 65535)
		return -1;
	cfg->port = (int)port;
	return 0;
}

static int positive(const char *arg, int *value)
{
	*value = atoi(arg);
	return *value > 0 ? 0 : -1;
}

static int take_option(struct options *o, int opt, const char *arg)
{
	switch (opt) {
	case 'p':
		return parse_listen(arg, &o->http);
	case 's':
		o->sock = arg;
		return 0;
	case 'u':
		o->http.prefix = arg;
		return arg[0] == '/' ? 0 : -1;
	case 'h':
		if (o->n_roots == FILES_MAX_ROOTS)
			return -1;
		o->roots[o->n_roots++] = arg;
		return 0;
	case 'A':
		if (o->n_acl_dirs == MAX_ACL_DIRS)
			return -1;
		o->acl_dirs[o->n_acl_dirs++] = arg;
		return 0;
	case 'L':
		if (o->n_logins == MAX_LOGINS)
			return -1;
		return session_login_parse(&o->logins[o->n_logins++], arg);
	case 'a':
		o->check_access = false;
		return 0;
	case 'X':
		o->http.cors = true;
		return 0;
	case 't':
		return positive(arg, &o->timeout);
	case 'k':
		return positive(arg, &o->http.keepalive);
	default:
		return -1;
	}
}

static int parse_options(int argc, char **argv, struct options *o)
{
	int opt;

	while ((opt = getopt(argc, argv, "p:s:u:h:A:L:aXt:k:")) != -1)
		if (take_option(o, opt, optarg))
			return -1;
	if (optind != argc)
		return -1;
	if (!o->n_acl_dirs)
		o->acl_dirs[o->n_acl_dirs++] = "/usr/share/rpcd/acl.d";
	if (!o->n_logins)
		return session_login_parse(&o->logins[o->n_logins++], "root:*:*");
	return 0;
}

static void load_access(const struct options *o, struct acl_set *acl)
{
	int i;

	acl_add_builtin(acl);
	for (i = 0; i < o->n_acl_dirs; i++)
		acl_load_dir(acl, o->acl_dirs[i]);
	session_init(acl, o->logins, o->n_logins);
}

static int start_serving(const struct options *o)
{
	int port;

	files_init(o->roots, o->n_roots);
	rpc_init(o->check_access, o->timeout * 1000);
	if (query_init(o->sock)) {
		fprintf(stderr, "ubus-httpd: cannot start asking the bus\n");
		return -1;
	}
	port = http_start(&o->http);
	if (port < 0) {
		fprintf(stderr, "ubus-httpd: cannot listen on %s:%d\n", o->http.address, o->http.port);
		return -1;
	}
	printf("ubus-httpd: listening on http://%s:%d/\n", o->http.address, port);
	fflush(stdout);
	return 0;
}

static void hangup(struct uloop_signal *s)
{
	uloop_end();
}

/* Until SIGINT, SIGTERM or SIGHUP. */
static void serve(void)
{
	struct uloop_signal hup = { .signo = SIGHUP, .cb = hangup };

	uloop_signal_add(&hup);
	uloop_run();
	uloop_signal_delete(&hup);
}

/* Requests first: they hold queries and calls, which hold the bus. */
static void stop_serving(struct acl_set *acl)
{
	http_stop();
	query_done();
	bus_done();
	files_done();
	acl_free(acl);
	uloop_done();
}

int main(int argc, char **argv)
{
	static struct options o = {
		.http = { .address = "127.0.0.1", .port = 8080, .prefix = "/ubus", .keepalive = 20 },
		.check_access = true,
		.timeout = 60,
	};
	struct acl_set acl = { 0 };
	int ret = 0;

	if (parse_options(argc, argv, &o)) {
		usage(argv[0]);
		return 2;
	}
	signal(SIGPIPE, SIG_IGN);
	uloop_init();
	load_access(&o, &acl);
	if (start_serving(&o))
		ret = 1;
	else
		serve();
	stop_serving(&acl);
	return ret;
}
