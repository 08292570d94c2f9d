/*
 * ubus.c - command-line client: list objects, call methods
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <libubox/blobmsg_json.h>

#include "libubus.h"

#define CMD_USAGE	(-2)

static struct blob_buf b;
static int timeout = 30;
static bool simple_output;
static int verbose;

static const char *format_type(void *priv, struct blob_attr *attr)
{
	static const char *const attr_types[] = {
		[BLOBMSG_TYPE_INT32] = "\"Integer\"",
		[BLOBMSG_TYPE_STRING] = "\"String\"",
		[BLOBMSG_TYPE_ARRAY] = "\"Array\"",
		[BLOBMSG_TYPE_TABLE] = "\"Table\"",
		[BLOBMSG_TYPE_BOOL] = "\"Boolean\"",
	};
	uint32_t type;

	if (blob_id(attr) != BLOBMSG_TYPE_INT32 || blobmsg_data_len(attr) != 4)
		return NULL;
	type = blobmsg_get_u32(attr);
	if (type >= ARRAY_SIZE(attr_types) || !attr_types[type])
		return "\"(unknown)\"";
	return attr_types[type];
}

static void receive_list_result(struct ubus_context *ctx, struct ubus_object_data *obj, void *priv)
{
	struct blob_attr *cur;
	size_t rem;

	if (!verbose) {
		printf("%s\n", obj->path);
		return;
	}
	printf("'%s' @%08x\n", obj->path, obj->id);
	if (!obj->signature)
		return;
	blob_for_each_attr(cur, obj->signature, rem) {
		char *s = blobmsg_format_json_with_cb(cur, false, format_type, NULL, -1);

		if (!s)
			continue;
		printf("\t%s\n", s);
		free(s);
	}
}

static void receive_call_result(struct ubus_request *req, int type, struct blob_attr *msg)
{
	char *str;

	if (!msg)
		return;
	str = blobmsg_format_json_indent(msg, true, simple_output ? -1 : 0);
	if (!str)
		return;
	printf("%s\n", str);
	fflush(stdout);
	free(str);
}

static int ubus_cli_list(struct ubus_context *ctx, int argc, char **argv)
{
	const char *path = NULL;

	if (argc > 1)
		return CMD_USAGE;
	if (argc == 1)
		path = argv[0];
	return ubus_lookup(ctx, path, receive_list_result, NULL);
}

/* Non-terminal stderr gets the whole command line and a negated status. */
static int call_failed(int argc, char **argv, int ret)
{
	if (simple_output || isatty(STDERR_FILENO))
		return ret;
	fprintf(stderr, "Command failed: ubus call ");
	for (int i = 0; i < argc; i++)
		fprintf(stderr, "%s ", argv[i]);
	fprintf(stderr, "(%s)\n", ubus_strerror(ret));
	return -ret;
}

static int ubus_cli_call(struct ubus_context *ctx, int argc, char **argv)
{
	uint32_t id = 0;
	int ret;

	if (argc < 2 || argc > 3)
		return CMD_USAGE;
	blob_buf_init(&b, 0);
	if (argc == 3 && !blobmsg_add_json_from_string(&b, argv[2]))
		return call_failed(argc, argv, UBUS_STATUS_PARSE_ERROR);
	ret = ubus_lookup_id(ctx, argv[0], &id);
	if (ret)
		return ret;
	ret = ubus_invoke(ctx, id, argv[1], b.head, receive_call_result, NULL, timeout * 1000);
	if (ret)
		return call_failed(argc, argv, ret);
	return 0;
}

static int usage(const char *prog)
{
	fprintf(stderr,
		"Usage: %s [<options>] <command> [arguments...]\n"
		"Options:\n"
		" -s <socket>:\t\tSet the unix domain socket to connect to\n"
		" -t <timeout>:\t\tSet the timeout (in seconds) for a command to complete\n"
		" -S:\t\t\tUse simplified output (for scripts)\n"
		" -v:\t\t\tMore verbose output\n"
		" -m <type>:\t\t(for monitor): include a specific message type\n"
		"\t\t\t(can be used more than once)\n"
		" -M <r|t>\t\t(for monitor): only capture received or transmitted traffic\n"
		"\n"
		"Commands:\n"
		" - list [<path>]\t\t\tList objects\n"
		" - call <path> <method> [<message>]\tCall an object method\n"
		" - subscribe <path> [<path>...]\tSubscribe to object(s) notifications\n"
		" - listen [<path>...]\t\t\tListen for events\n"
		" - send <type> [<message>]\t\tSend an event\n"
		" - wait_for <object> [<object>...]\tWait for multiple objects to appear on ubus\n"
		" - monitor\t\t\t\tMonitor ubus traffic\n"
		"\n", prog);
	return 1;
}

static const struct {
	const char *name;
	int (*cb)(struct ubus_context *ctx, int argc, char **argv);
} commands[] = {
	{ "list", ubus_cli_list },
	{ "call", ubus_cli_call },
};

/* Reads the options; false for one it does not know. */
static bool read_options(int argc, char **argv, const char **socket_path)
{
	int ch;

	while ((ch = getopt(argc, argv, "m:M:vs:t:S")) != -1) {
		switch (ch) {
		case 's':
			*socket_path = optarg;
			break;
		case 't':
			timeout = atoi(optarg);
			break;
		case 'S':
			simple_output = true;
			break;
		case 'v':
			verbose++;
			break;
		case 'm':
		case 'M':
			/* monitor filters; there is no monitor here */
			break;
		default:
			return false;
		}
	}
	return true;
}

/* "list -v" as well as "-v list": the -v leaves the arguments. */
static void take_list_verbose(int *argc, char ***argv)
{
	char **av = *argv;

	if (*argc > 1 && !strcmp(av[0], "list") && !strcmp(av[1], "-v")) {
		verbose++;
		av[1] = av[0];
		(*argc)--;
		(*argv)++;
	}
}

static struct ubus_context *connect_bus(const char *socket_path)
{
	struct ubus_context *ctx = ubus_connect(socket_path);

	if (!ctx && !simple_output)
		fprintf(stderr, "Failed to connect to ubus\n");
	return ctx;
}

/* The command named by argv[0] with the arguments after it. */
static int run_command(struct ubus_context *ctx, int argc, char **argv)
{
	for (size_t i = 0; i < ARRAY_SIZE(commands); i++)
		if (!strcmp(commands[i].name, argv[0]))
			return commands[i].cb(ctx, argc - 1, argv + 1);
	return CMD_USAGE;
}

static void report_failure(int ret, const char *progname)
{
	if (ret > 0 && !simple_output)
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	else if (ret == CMD_USAGE)
		usage(progname);
}

int main(int argc, char **argv)
{
	const char *progname = argv[0];
	const char *socket_path = NULL;
	struct ubus_context *ctx;
	int ret;

	if (!read_options(argc, argv, &socket_path))
		return usage(progname);
	argc -= optind;
	argv += optind;
	if (argc < 1)
		return usage(progname);
	take_list_verbose(&argc, &argv);
	if (simple_output)
		verbose = 0;

	ctx = connect_bus(socket_path);
	if (!ctx)
		return -1;
	ret = run_command(ctx, argc, argv);
	report_failure(ret, progname);
	ubus_free(ctx);
	blob_buf_free(&b);
	return ret;
}
