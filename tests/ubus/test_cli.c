/*
 * test_cli.c - the ubus tool against our broker and a test server:
 * output texts, error texts and exit codes
 */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <libubus.h>
#include "testlib.h"

static struct broker br;

/* The usage, as the tool prints it when given no command. */
static const char *usage_text(void)
{
	static char buf[4096];
	const char *argv[] = { UBUS_BIN, NULL };
	struct result r;

	if (!buf[0]) {
		run(&r, 10000, argv);
		snprintf(buf, sizeof(buf), "%s", r.err);
		result_free(&r);
	}
	return buf;
}

/* ubus -s SOCK args... ; expects stdout, stderr and exit code */
#define UBUS(o_, e_, c_, ...) UBUS_CHECK(&br, o_, e_, c_, __VA_ARGS__)

static uint32_t lookup(const char *path)
{
	struct ubus_context *ctx = ubus_connect(br.path);
	uint32_t id = 0;

	if (!ctx)
		return 0;
	CHECK_INT(ubus_lookup_id(ctx, path, &id), 0);
	ubus_free(ctx);
	return id;
}

static void test_list(void)
{
	char want[512];
	uint32_t id = lookup("demo");

	UBUS("demo\ndemo.two\nfmt\n", "", 0, "list");
	UBUS("demo\ndemo.two\n", "", 0, "list", "de*");
	UBUS("fmt\n", "", 0, "list", "fmt");
	UBUS("", "Command failed: Not found\n", 4, "list", "nothere");
	UBUS("", "Command failed: Not found\n", 4, "list", "zz*");

	snprintf(want, sizeof(want),
		 "'demo' @%08x\n"
		 "\t\"status\":{}\n"
		 "\t\"m\":{\"interface1\":\"Integer\",\"interface2\":\"Integer\"}\n", id);
	UBUS(want, "", 0, "-v", "list", "demo");
	UBUS(want, "", 0, "list", "-v", "demo");
	/* simple output ignores -v */
	UBUS("demo\n", "", 0, "-S", "-v", "list", "demo");
}

static void test_call_args(void)
{
	char err[4096];

	UBUS("{\n\t\"error_code\": 0\n}\n", "", 0, "call", "demo", "status");
	UBUS("{\n\t\"interface1\": 5,\n\t\"interface2_given\": false\n}\n", "", 0,
	     "call", "demo", "m", "{\"interface1\":5}");
	UBUS("{\n\t\"interface1\": -7,\n\t\"interface2_given\": true\n}\n", "", 0,
	     "call", "demo", "m", "{\"interface1\":-7,\"interface2\":1}");
	/* unknown arguments are the handler's business; this one ignores them */
	UBUS("{\n\t\"interface1\": 1,\n\t\"interface2_given\": false\n}\n", "", 0,
	     "call", "demo", "m", "{\"bogus\":true,\"interface1\":1}");
	UBUS("{\"interface1\":5,\"interface2_given\":false}\n", "", 0,
	     "-S", "call", "demo", "m", "{\"interface1\":5}");
	/* the second object shares the first one's type and handlers */
	UBUS("{\n\t\"error_code\": 0\n}\n", "", 0, "call", "demo.two", "status");

	/* missing and wrongly typed arguments: the handler answers 2 */
	snprintf(err, sizeof(err), "Command failed: ubus call demo m {} (Invalid argument)\n%s",
		 usage_text());
	UBUS("", err, 254, "call", "demo", "m", "{}");
	snprintf(err, sizeof(err), "Command failed: ubus call demo m (Invalid argument)\n%s",
		 usage_text());
	UBUS("", err, 254, "call", "demo", "m");
	snprintf(err, sizeof(err),
		 "Command failed: ubus call demo m {\"interface1\":\"5\"} (Invalid argument)\n%s",
		 usage_text());
	UBUS("", err, 254, "call", "demo", "m", "{\"interface1\":\"5\"}");
	UBUS("", "", 2, "-S", "call", "demo", "m", "{\"interface1\":\"5\"}");

	UBUS("", "Command failed: ubus call demo m {\"interface1\": (Parsing message data failed)\n",
	     244, "call", "demo", "m", "{\"interface1\":");
	UBUS("", "Command failed: ubus call demo m [1,2] (Parsing message data failed)\n",
	     244, "call", "demo", "m", "[1,2]");
	UBUS("", "", 12, "-S", "call", "demo", "m", "[1,2]");
}

static void test_call_errors(void)
{
	struct result r;

	UBUS("", "Command failed: Not found\n", 4, "call", "nothere", "x");
	UBUS("", "", 4, "-S", "call", "nothere", "x");
	UBUS("", "Command failed: ubus call demo nope (Method not found)\n", 253,
	     "call", "demo", "nope");
	UBUS("", "", 3, "-S", "call", "demo", "nope");
	UBUS("", "Command failed: ubus call fmt fail (Operation not supported)\n", 248,
	     "call", "fmt", "fail");
	UBUS("", "", 8, "-S", "call", "fmt", "fail");
	UBUS("", "Command failed: ubus call fmt err77 (Unknown error: 77)\n", 179,
	     "call", "fmt", "err77");
	UBUS("{\n\t\"partial\": \"yes\"\n}\n",
	     "Command failed: ubus call fmt dataerr (Unknown error)\n", 247, "call", "fmt", "dataerr");

	{
		const char *argv[] = { UBUS_BIN, "-s", br.path, "-t", "1", "call", "fmt", "slow", NULL };

		run(&r, 10000, argv);
		CHECK_STR(r.out, "");
		CHECK_STR(r.err, "Command failed: ubus call fmt slow (Request timed out)\n");
		CHECK_INT(r.code, 249);
		/* it waited for its timeout; the reply, due at 3 s, did not come first */
		CHECK(r.secs > 0.9);
		result_free(&r);
	}
	/* a deferred reply that comes in time, however busy the machine */
	UBUS("{\n\t\"slow\": \"done\"\n}\n", "", 0, "-t", "60", "call", "fmt", "slow");
}

static void test_call_output(void)
{
	UBUS("{\n"
	     "\t\"name\": \"eth0\",\n"
	     "\t\"up\": true,\n"
	     "\t\"mtu\": 1500,\n"
	     "\t\"neg\": -3,\n"
	     "\t\"big\": 5000000000,\n"
	     "\t\"small\": 7,\n"
	     "\t\"dbl\": 1.500000,\n"
	     "\t\"esc\": \"q\\\"b\\\\t\\tn\\nc\\u0001/\",\n"
	     "\t\"list\": [\n"
	     "\t\t\"a\",\n"
	     "\t\t2,\n"
	     "\t\t[\n"
	     "\t\t\t\"c\"\n"
	     "\t\t],\n"
	     "\t\t{\n"
	     "\t\t\t\"k\": \"v\"\n"
	     "\t\t}\n"
	     "\t],\n"
	     "\t\"nested\": {\n"
	     "\t\t\"flag\": false,\n"
	     "\t\t\"empty_arr\": [\n"
	     "\t\t\t\n"
	     "\t\t],\n"
	     "\t\t\"empty_tbl\": {\n"
	     "\t\t\t\n"
	     "\t\t}\n"
	     "\t},\n"
	     "\t\"nil\": null\n"
	     "}\n", "", 0, "call", "fmt", "rich");
	UBUS("{\"name\":\"eth0\",\"up\":true,\"mtu\":1500,\"neg\":-3,\"big\":5000000000,\"small\":7,"
	     "\"dbl\":1.500000,\"esc\":\"q\\\"b\\\\t\\tn\\nc\\u0001/\",\"list\":[\"a\",2,[\"c\"],"
	     "{\"k\":\"v\"}],\"nested\":{\"flag\":false,\"empty_arr\":[],\"empty_tbl\":{}},"
	     "\"nil\":null}\n", "", 0, "-S", "call", "fmt", "rich");
	UBUS("{\n\t\n}\n", "", 0, "call", "fmt", "empty");
	UBUS("{}\n", "", 0, "-S", "call", "fmt", "empty");
	UBUS("", "", 0, "call", "fmt", "nodata");
	UBUS("{\n\t\"n\": 1\n}\n{\n\t\"n\": 2\n}\n", "", 0, "call", "fmt", "twice");
	/* JSON input mapping, echoed back by the handler */
	UBUS("{\"s\":\"x\",\"b\":true,\"i\":-2147483648,\"l\":2147483648,\"d\":0.500000,"
	     "\"a\":[1,\"two\"],\"t\":{\"k\":null}}\n", "", 0, "-S", "call", "fmt", "echo",
	     "{\"s\":\"x\",\"b\":true,\"i\":-2147483648,\"l\":2147483648,\"d\":0.5,"
	     "\"a\":[1,\"two\"],\"t\":{\"k\":null}}");
}

static bool ends_with(const char *s, const char *tail)
{
	size_t n = strlen(s), m = strlen(tail);

	return n >= m && !strcmp(s + n - m, tail);
}

static void test_usage(void)
{
	/* what the tool takes: its commands and its options with their values */
	static const char *const commands[] = { "list [<path>]", "call <path> <method> [<message>]" };
	static const char *const options[] = { "-s <socket>", "-t <timeout>", "-S", "-v", "-m <type>", "-M <r|t>" };
	const char *bare[] = { UBUS_BIN, NULL };
	const char *unknown[] = { UBUS_BIN, "-x", "list", NULL };
	char line[256];
	struct result r;

	/* without a command: the usage alone on stderr, and exit code 1 */
	run(&r, 10000, bare);
	CHECK_STR(r.out, "");
	CHECK_INT(r.code, 1);
	snprintf(line, sizeof(line), "Usage: %s [<options>] <command> [arguments...]\n", UBUS_BIN);
	CHECK(!strncmp(r.err, line, strlen(line)));
	for (size_t i = 0; i < sizeof(commands) / sizeof(commands[0]); i++) {
		snprintf(line, sizeof(line), "\n - %s\t", commands[i]);
		CHECK(strstr(r.err, line));
	}
	for (size_t i = 0; i < sizeof(options) / sizeof(options[0]); i++) {
		snprintf(line, sizeof(line), "\n %s", options[i]);
		CHECK(strstr(r.err, line));
	}
	CHECK(ends_with(r.err, "\n\n"));
	result_free(&r);

	/* every option it names is taken */
	UBUS("demo\n", "", 0, "-t", "30", "-S", "-v", "-m", "x", "-M", "r", "list", "demo");

	/* an unknown option: getopt's complaint, the usage, exit code 1 */
	run(&r, 10000, unknown);
	CHECK_STR(r.out, "");
	CHECK(strstr(r.err, "invalid option -- 'x'\n"));
	CHECK(ends_with(r.err, usage_text()));
	CHECK_INT(r.code, 1);
	result_free(&r);

	/* an unknown command or a wrong count of arguments: the usage after connecting */
	UBUS("", usage_text(), 254, "bogus");
	UBUS("", usage_text(), 254, "call", "demo");
	UBUS("", usage_text(), 254, "list", "a", "b");
	{
		const char *argv[] = { UBUS_BIN, "-s", "/nonexistent/ubus.sock", "list", NULL };
		const char *argv_s[] = { UBUS_BIN, "-S", "-s", "/nonexistent/ubus.sock", "list", NULL };

		run(&r, 5000, argv);
		CHECK_STR(r.err, "Failed to connect to ubus\n");
		CHECK_INT(r.code, 255);
		result_free(&r);
		run(&r, 5000, argv_s);
		CHECK_STR(r.err, "");
		CHECK_INT(r.code, 255);
		result_free(&r);
	}
}

/* A server that registers its socket with uloop_fd_add(READ|BLOCKING) itself. */
static void test_fd_add_server(void)
{
	const char *argv[] = { SERVER_BIN, br.path, "fd-add", "default-lost", "vx", NULL };
	int out;
	pid_t pid = spawn_ready(argv, &out);

	CHECK(pid > 0);
	UBUS("{\n\t\"interface1\": 9,\n\t\"interface2_given\": false\n}\n", "", 0,
	     "call", "vx", "m", "{\"interface1\":9}");
	UBUS("", "Command failed: ubus call vx nope (Method not found)\n", 253, "call", "vx", "nope");
	UBUS("{\n\t\"slow\": \"done\"\n}\n", "", 0, "call", "vx.fmt", "slow");
	UBUS("demo\ndemo.two\nfmt\nvx\nvx.fmt\nvx.two\n", "", 0, "list");
	kill_wait(pid);
	close(out);
}

int main(void)
{
	const char *server[] = { SERVER_BIN, NULL, NULL };
	int out;
	pid_t pid;

	signal(SIGPIPE, SIG_IGN);
	if (!broker_start(&br)) {
		fprintf(stderr, "cannot start ubusd\n");
		return 1;
	}
	/* an empty bus lists nothing */
	UBUS("", "", 0, "list");

	server[1] = br.path;
	pid = spawn_ready(server, &out);
	CHECK(pid > 0);
	if (pid > 0) {
		test_list();
		test_call_args();
		test_call_errors();
		test_call_output();
		test_usage();
		test_fd_add_server();
		kill_wait(pid);
		close(out);
	}
	broker_stop(&br);
	if (test_failures)
		fprintf(stderr, "%d check(s) failed\n", test_failures);
	return test_failures ? 1 : 0;
}
