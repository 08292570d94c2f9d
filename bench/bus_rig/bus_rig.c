/*
 * bus_rig.c - a private ubusd and one server process for the bus benchmarks
 */
#include "bus_rig.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static void run_server(const char *sock, struct ubus_object *obj, int ready_fd)
{
	struct ubus_context *ctx = ubus_connect(sock);

	if (!ctx || ubus_add_object(ctx, obj)) {
		fprintf(stderr, "server: cannot publish the object\n");
		_exit(1);
	}
	ubus_add_uloop(ctx);
	if (write(ready_fd, "r", 1) != 1)
		_exit(1);
	close(ready_fd);
	uloop_run();
	_exit(0);
}

int bus_rig_start(struct bus_rig *rig, const char *ubusd, struct ubus_object *obj)
{
	int ready[2];
	char c;

	memset(rig, 0, sizeof(*rig));
	snprintf(rig->dir, sizeof(rig->dir), "/tmp/ubus-bench.XXXXXX");
	if (!mkdtemp(rig->dir)) {
		perror("mkdtemp");
		return -1;
	}
	snprintf(rig->sock, sizeof(rig->sock), "%s/ubus.sock", rig->dir);

	rig->broker = fork();
	if (rig->broker == 0) {
		execl(ubusd, "ubusd", "-s", rig->sock, (char *) NULL);
		_exit(127);
	}
	for (int i = 0; i < 500 && access(rig->sock, F_OK); i++)
		usleep(10000);
	/* the socket exists before the broker listens on it */
	usleep(20000);

	if (pipe(ready))
		return -1;
	rig->server = fork();
	if (rig->server == 0) {
		close(ready[0]);
		run_server(rig->sock, obj, ready[1]);
	}
	close(ready[1]);
	if (read(ready[0], &c, 1) != 1) {
		close(ready[0]);
		fprintf(stderr, "server did not start\n");
		return -1;
	}
	close(ready[0]);
	return 0;
}

static void stop(pid_t pid, struct rusage *ru)
{
	struct rusage ignored;

	if (pid <= 0)
		return;
	kill(pid, SIGTERM);
	wait4(pid, NULL, 0, ru ? ru : &ignored);
}

void bus_rig_stop(struct bus_rig *rig, struct rusage *server_ru, struct rusage *broker_ru)
{
	stop(rig->server, server_ru);
	stop(rig->broker, broker_ru);
	unlink(rig->sock);
	rmdir(rig->dir);
}
