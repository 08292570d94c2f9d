/*
 * ubusd_mem.c - the broker's private dirty memory (from smaps_rollup)
 *
 * Starts a private ubusd and one server publishing "mem", whose method
 * "big" replies a 200 KiB string. Prints the broker's private dirty memory
 * with only the server connected, with 16 more idle clients, right after
 * four of them each received one big reply, and 1 s later.
 *
 * usage: ubusd_mem [-d UBUSD]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bus_rig.h"

#define CLIENTS		16
#define BIG_CALLERS	4
#define BIG_REPLY	(200 * 1024)

static struct blob_buf b;

static int mem_big(struct ubus_context *ctx, struct ubus_object *obj,
		   struct ubus_request_data *req, const char *method, struct blob_attr *msg)
{
	char *s = malloc(BIG_REPLY);

	if (!s)
		return UBUS_STATUS_UNKNOWN_ERROR;
	memset(s, 'x', BIG_REPLY - 1);
	s[BIG_REPLY - 1] = 0;
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "data", s);
	free(s);
	ubus_send_reply(ctx, req, b.head);
	return 0;
}

static const struct ubus_method mem_methods[] = {
	UBUS_METHOD_NOARG("big", mem_big),
};

static struct ubus_object_type mem_type = UBUS_OBJECT_TYPE("mem", mem_methods);

static struct ubus_object mem_obj = {
	.name = "mem",
	.type = &mem_type,
	.methods = mem_methods,
	.n_methods = ARRAY_SIZE(mem_methods),
};

static long private_dirty(pid_t pid)
{
	char path[64], line[256];
	long kb = -1;
	FILE *f;

	snprintf(path, sizeof(path), "/proc/%d/smaps_rollup", (int) pid);
	f = fopen(path, "r");
	if (!f)
		return -1;
	while (fgets(line, sizeof(line), f))
		if (sscanf(line, "Private_Dirty: %ld kB", &kb) == 1)
			break;
	fclose(f);
	return kb;
}

static void got_big(struct ubus_request *req, int type, struct blob_attr *msg)
{
	*(size_t *) req->priv = blob_raw_len(msg);
}

static int measure(const char *sock, pid_t broker)
{
	struct ubus_context *ctx[CLIENTS];
	long idle, with_clients, after, later;
	uint32_t id;

	/* the broker has settled after its start */
	usleep(200000);
	idle = private_dirty(broker);
	for (int i = 0; i < CLIENTS; i++) {
		ctx[i] = ubus_connect(sock);
		if (!ctx[i] || ubus_lookup_id(ctx[i], "mem", &id)) {
			fprintf(stderr, "client %d cannot connect or find the server\n", i);
			return 1;
		}
	}
	usleep(1200000);
	with_clients = private_dirty(broker);

	for (int i = 0; i < BIG_CALLERS; i++) {
		size_t len = 0;

		if (ubus_invoke(ctx[i], id, "big", NULL, got_big, &len, 10000) || len < BIG_REPLY) {
			fprintf(stderr, "client %d: no big reply\n", i);
			return 1;
		}
	}
	after = private_dirty(broker);
	sleep(1);
	later = private_dirty(broker);

	printf("ubusd private dirty memory (smaps_rollup)\n");
	printf("idle, the server connected:            %6ld kB\n", idle);
	printf("%d idle clients more:                  %6ld kB  (%.2f kB per client)\n",
	       CLIENTS, with_clients, (double) (with_clients - idle) / CLIENTS);
	printf("%d of them got %d KiB each, just after: %6ld kB\n",
	       BIG_CALLERS, BIG_REPLY / 1024, after);
	printf("1 s later:                              %6ld kB  (%+ld kB against %d idle clients)\n",
	       later, later - with_clients, CLIENTS);
	for (int i = 0; i < CLIENTS; i++)
		ubus_free(ctx[i]);
	return 0;
}

int main(int argc, char **argv)
{
	const char *ubusd = UBUSD_BIN;
	struct bus_rig rig;
	int ret, ch;

	while ((ch = getopt(argc, argv, "d:")) != -1) {
		if (ch != 'd') {
			fprintf(stderr, "usage: %s [-d UBUSD]\n", argv[0]);
			return 2;
		}
		ubusd = optarg;
	}
	ret = bus_rig_start(&rig, ubusd, &mem_obj) ? 1 : measure(rig.sock, rig.broker);
	bus_rig_stop(&rig, NULL, NULL);
	return ret;
}
