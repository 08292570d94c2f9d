/*
 * test_bus.c - life cycle on the bus: owners that go away, brokers that go
 * away, and what clients and servers see then
 */
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libubus.h>
#include "testlib.h"

static pid_t start_server(struct broker *br, const char *mode, const char *lost,
			  const char *prefix, int *out)
{
	const char *argv[] = { SERVER_BIN, br->path, mode, lost, prefix, NULL };

	return spawn_ready(argv, out);
}

/* The owner goes: its objects go with it, calls to them fail. */
static void test_owner_disconnect(void)
{
	struct broker br;
	struct ubus_context *ctx;
	uint32_t id = 0, stale;
	pid_t pid, caller;
	int out, code = -1;
	double forked;

	CHECK(broker_start(&br));
	pid = start_server(&br, "add-uloop", "default-lost", "own", &out);
	CHECK(pid > 0);
	ctx = ubus_connect(br.path);
	CHECK(ctx != NULL);
	if (!ctx || pid <= 0)
		goto out;
	CHECK_INT(ubus_lookup_id(ctx, "own", &id), 0);
	stale = id;

	/* a call waiting on the owner when it goes gets no answer: it times out */
	forked = now_secs();
	caller = fork();
	if (caller == 0) {
		const char *argv[] = { UBUS_BIN, "-s", br.path, "-t", "3", "call", "own.fmt", "slow", NULL };
		int devnull = open("/dev/null", O_WRONLY);

		dup2(devnull, 1);
		dup2(devnull, 2);
		execv(argv[0], (char *const *) argv);
		_exit(127);
	}
	/* the call has reached the owner */
	CHECK(wait_line(out, "slow", 20000));
	kill_wait(pid);
	close(out);

	/* the broker notices the hang-up at once */
	for (int i = 0; i < 2000 && ubus_lookup_id(ctx, "own", &id) == 0; i++)
		usleep(5000);
	CHECK_INT(ubus_lookup_id(ctx, "own", &id), UBUS_STATUS_NOT_FOUND);
	UBUS_CHECK(&br, "", "", 0, "list");
	UBUS_CHECK(&br, "", "Command failed: Not found\n", 4, "call", "own", "status");
	CHECK_INT(ubus_invoke(ctx, stale, "status", NULL, NULL, NULL, 1000), UBUS_STATUS_NOT_FOUND);

	/* its own 3 s bound ended it, counted from before it started */
	CHECK(wait_exit(caller, 30000, &code));
	CHECK_INT(code, 249);
	CHECK(now_secs() - forked > 2.9);

	/* the name is free again */
	pid = start_server(&br, "add-uloop", "default-lost", "own", &out);
	CHECK(pid > 0);
	UBUS_CHECK(&br, "{\n\t\"error_code\": 0\n}\n", "", 0, "call", "own", "status");
	kill_wait(pid);
	close(out);
out:
	ubus_free(ctx);
	broker_stop(&br);
}

/*
 * The broker goes. The default handler leaves uloop_run() running, because the
 * loop has already dropped the hung-up socket; a handler of one's own is
 * called. Registering the socket by hand behaves the same as ubus_add_uloop.
 */
static void test_broker_gone(const char *mode)
{
	struct broker br;
	pid_t def, own;
	int def_out, own_out, code = -1;

	CHECK(broker_start(&br));
	def = start_server(&br, mode, "default-lost", "def", &def_out);
	own = start_server(&br, mode, "custom-lost", "own", &own_out);
	CHECK(def > 0 && own > 0);
	UBUS_CHECK(&br, "def\ndef.fmt\ndef.two\nown\nown.fmt\nown.two\n", "", 0, "list");
	UBUS_CHECK(&br, "{\n\t\"error_code\": 0\n}\n", "", 0, "call", "def", "status");

	broker_stop(&br);
	CHECK(wait_line(own_out, "lost", 20000));
	CHECK(wait_line(own_out, "done", 10000));
	CHECK(wait_exit(own, 20000, &code));
	CHECK_INT(code, 0);
	CHECK(!wait_line(def_out, "done", 1000));
	CHECK(!wait_exit(def, 10, NULL));
	kill_wait(def);
	close(def_out);
	close(own_out);
}

/* A synchronous call in progress when the broker goes returns 10. */
static void test_broker_gone_during_call(void)
{
	const char *argv[] = { UBUS_BIN, "-s", NULL, "call", "fmt", "slow", NULL };
	struct broker br;
	struct result r;
	pid_t server, killer;
	int out;

	CHECK(broker_start(&br));
	server = start_server(&br, "add-uloop", "default-lost", "demo", &out);
	CHECK(server > 0);
	argv[2] = br.path;
	/* the broker goes once the server has the call */
	killer = fork();
	if (killer == 0) {
		if (wait_line(out, "slow", 20000))
			kill(br.pid, SIGTERM);
		_exit(0);
	}
	/* "demo" prefix: the server's fmt object is "demo.fmt" */
	argv[4] = "demo.fmt";
	run(&r, 30000, argv);
	CHECK_STR(r.err, "Command failed: ubus call demo.fmt slow (Connection failed)\n");
	CHECK_INT(r.code, 246);
	/* ended by the broker's going, well before the client's 30 s bound */
	CHECK(r.secs < 15);
	result_free(&r);
	waitpid(killer, NULL, 0);
	kill_wait(server);
	close(out);
	broker_stop(&br);
}

/* Socket file: replaced at start, world-writable, removed on SIGTERM. */
static void test_socket_file(void)
{
	struct broker br;
	struct stat st;

	CHECK(broker_start(&br));
	CHECK(stat(br.path, &st) == 0);
	CHECK(S_ISSOCK(st.st_mode));
	CHECK_INT(st.st_mode & 0777, 0666);
	/* a broker that died leaves its socket behind; the next one replaces it */
	kill(br.pid, SIGKILL);
	waitpid(br.pid, NULL, 0);
	CHECK(access(br.path, F_OK) == 0);
	CHECK(broker_start_at(&br));
	UBUS_CHECK(&br, "", "", 0, "list");
	/* SIGTERM removes it */
	kill(br.pid, SIGTERM);
	CHECK(wait_exit(br.pid, 20000, NULL));
	CHECK(access(br.path, F_OK) != 0);
	br.pid = 0;
	broker_stop(&br);
}

int main(void)
{
	signal(SIGPIPE, SIG_IGN);
	test_owner_disconnect();
	test_broker_gone("add-uloop");
	test_broker_gone("fd-add");
	test_broker_gone_during_call();
	test_socket_file();
	if (test_failures)
		fprintf(stderr, "%d check(s) failed\n", test_failures);
	return test_failures ? 1 : 0;
}
