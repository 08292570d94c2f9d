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

#include "acl.h"
#include "bus.h"
#include "files.h"
#include "http.h"
#include "rpc.h"
#include "session.h"

#define MAX_LOGINS	16
#define MAX_ACL_DIRS	8

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
		"  -k SECONDS       idle connection timeout (default 20)\n",
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

int main(int argc, char **argv)
{
	struct http_config cfg = {
		.address = "127.0.0.1", .port = 8080, .prefix = "/ubus", .keepalive = 20,
	};
	static struct session_login logins[MAX_LOGINS];
	const char *acl_dirs[MAX_ACL_DIRS], *roots[FILES_MAX_ROOTS];
	const char *sock = NULL;
	int n_logins = 0, n_acl_dirs = 0, n_roots = 0, timeout = 60, port, opt, i;
	bool check_access = true;
	struct acl_set acl = { 0 };
	sigset_t sigs;

	while ((opt = getopt(argc, argv, "p:s:u:h:A:L:aXt:k:")) != -1) {
		switch (opt) {
		case 'p':
			if (parse_listen(optarg, &cfg))
				goto bad;
			break;
		case 's':
			sock = optarg;
			break;
		case 'u':
			cfg.prefix = optarg;
			break;
		case 'h':
			if (n_roots == FILES_MAX_ROOTS)
				goto bad;
			roots[n_roots++] = optarg;
			break;
		case 'A':
			if (n_acl_dirs == MAX_ACL_DIRS)
				goto bad;
			acl_dirs[n_acl_dirs++] = optarg;
			break;
		case 'L':
			if (n_logins == MAX_LOGINS || session_login_parse(&logins[n_logins++], optarg))
				goto bad;
			break;
		case 'a':
			check_access = false;
			break;
		case 'X':
			cfg.cors = true;
			break;
		case 't':
			timeout = atoi(optarg);
			if (timeout <= 0)
				goto bad;
			break;
		case 'k':
			cfg.keepalive = atoi(optarg);
			if (cfg.keepalive <= 0)
				goto bad;
			break;
		default:
			goto bad;
		}
	}
	if (optind != argc || cfg.prefix[0] != '/')
		goto bad;
	if (!n_acl_dirs)
		acl_dirs[n_acl_dirs++] = "/usr/share/rpcd/acl.d";
	if (!n_logins && session_login_parse(&logins[n_logins++], "root:*:*"))
		return 1;

	acl_add_builtin(&acl);
	for (i = 0; i < n_acl_dirs; i++)
		acl_load_dir(&acl, acl_dirs[i]);
	session_init(&acl, logins, n_logins);
	files_init(roots, n_roots);
	bus_init(sock, timeout * 1000);
	rpc_init(check_access);

	/* Signals are taken by this thread only, the server thread never sees them. */
	sigemptyset(&sigs);
	sigaddset(&sigs, SIGINT);
	sigaddset(&sigs, SIGTERM);
	sigaddset(&sigs, SIGHUP);
	pthread_sigmask(SIG_BLOCK, &sigs, NULL);
	signal(SIGPIPE, SIG_IGN);

	port = http_start(&cfg);
	if (port < 0) {
		fprintf(stderr, "ubus-httpd: cannot listen on %s:%d\n", cfg.address, cfg.port);
		return 1;
	}
	printf("ubus-httpd: listening on http://%s:%d/\n", cfg.address, port);
	fflush(stdout);
	sigwait(&sigs, &opt);
	http_stop();
	bus_done();
	files_done();
	acl_free(&acl);
	return 0;
bad:
	usage(argv[0]);
	return 2;
}
