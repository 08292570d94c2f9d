/*
 * veloxtop: live view of the veloxd traffic figures, read over ubus.
 *
 * Once a second it asks veloxd for the slots of the current wireless mode,
 * their totals and speeds, and the two display selections, and redraws.
 * Speeds are shown as veloxd reports them, in units of 1024 bit/s. Below
 * the table, the last minute of each slot from veloxd's recent history.
 */
#define _GNU_SOURCE
#include <getopt.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
#include <libubus.h>
#include <uci.h>

#define DEFAULT_SOCKET "/var/run/ubus.sock"
#define SLOT_COUNT 12
#define FIELD_SIZE 32
#define CALL_TIMEOUT_MS 1000
/* Samples a sparkline shows, the newest on the right. */
#define SPARK_LEN 32

enum { PORT_TX_PACKETS, PORT_TX_BYTES, PORT_RX_PACKETS, PORT_RX_BYTES,
       PORT_TX_SPEED, PORT_RX_SPEED, __PORT_MAX };

static const struct blobmsg_policy port_policy[__PORT_MAX] = {
	[PORT_TX_PACKETS] = { "tx_packets", BLOBMSG_TYPE_STRING },
	[PORT_TX_BYTES] = { "tx_bytes", BLOBMSG_TYPE_STRING },
	[PORT_RX_PACKETS] = { "rx_packets", BLOBMSG_TYPE_STRING },
	[PORT_RX_BYTES] = { "rx_bytes", BLOBMSG_TYPE_STRING },
	[PORT_TX_SPEED] = { "tx_speed", BLOBMSG_TYPE_STRING },
	[PORT_RX_SPEED] = { "rx_speed", BLOBMSG_TYPE_STRING },
};

enum { THR_1_TX, THR_1_RX, THR_2_TX, THR_2_RX, __THR_MAX };

static const struct blobmsg_policy throughput_policy[__THR_MAX] = {
	[THR_1_TX] = { "interface1_tx", BLOBMSG_TYPE_STRING },
	[THR_1_RX] = { "interface1_rx", BLOBMSG_TYPE_STRING },
	[THR_2_TX] = { "interface2_tx", BLOBMSG_TYPE_STRING },
	[THR_2_RX] = { "interface2_rx", BLOBMSG_TYPE_STRING },
};

enum { DISP_1, DISP_2, __DISP_MAX };

static const struct blobmsg_policy display_policy[__DISP_MAX] = {
	[DISP_1] = { "interface1", BLOBMSG_TYPE_INT32 },
	[DISP_2] = { "interface2", BLOBMSG_TYPE_INT32 },
};

static const struct blobmsg_policy list_policy[] = {
	{ "list", BLOBMSG_TYPE_ARRAY },
};

enum { HIST_TX, HIST_RX, __HIST_MAX };

static const struct blobmsg_policy history_policy[__HIST_MAX] = {
	[HIST_TX] = { "tx_speed", BLOBMSG_TYPE_ARRAY },
	[HIST_RX] = { "rx_speed", BLOBMSG_TYPE_ARRAY },
};

/* The newest SPARK_LEN speeds of one direction, oldest first. */
struct spark {
	int n;
	double v[SPARK_LEN];
};

struct slot_row {
	int slot;
	bool ok;
	char field[__PORT_MAX][FIELD_SIZE];
	bool have_history;
	struct spark history[__HIST_MAX];
};

struct view {
	bool have_list;
	int n_slots;
	struct slot_row rows[SLOT_COUNT];
	bool have_display;
	int display[2];
	bool have_throughput;
	char throughput[__THR_MAX][FIELD_SIZE];
	char names[SLOT_COUNT][FIELD_SIZE];
	char mode[FIELD_SIZE];
};

static const char *socket_path = DEFAULT_SOCKET;
static struct ubus_context *ctx;
static bool ctx_lost;
static struct blob_buf req_buf;
static struct uloop_timeout tick;
static int refreshes_left = -1;
static bool batch;
static bool clear_screen;

static void copy_text(char *dst, size_t size, struct blob_attr *attr)
{
	snprintf(dst, size, "%s", attr ? blobmsg_get_string(attr) : "-");
}

static void on_list(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct view *v = req->priv;
	struct blob_attr *tb[1], *cur;
	size_t rem;

	blobmsg_parse(list_policy, 1, tb, blob_data(msg), blob_len(msg));
	if (!tb[0])
		return;
	v->have_list = true;
	blobmsg_for_each_attr(cur, tb[0], rem) {
		if (blobmsg_type(cur) != BLOBMSG_TYPE_INT32 || v->n_slots >= SLOT_COUNT)
			continue;
		v->rows[v->n_slots++].slot = (int)blobmsg_get_u32(cur);
	}
}

static void on_display(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct view *v = req->priv;
	struct blob_attr *tb[__DISP_MAX];

	blobmsg_parse(display_policy, __DISP_MAX, tb, blob_data(msg), blob_len(msg));
	if (!tb[DISP_1] || !tb[DISP_2])
		return;
	v->have_display = true;
	v->display[0] = (int)blobmsg_get_u32(tb[DISP_1]);
	v->display[1] = (int)blobmsg_get_u32(tb[DISP_2]);
}

static void on_throughput(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct view *v = req->priv;
	struct blob_attr *tb[__THR_MAX];

	blobmsg_parse(throughput_policy, __THR_MAX, tb, blob_data(msg), blob_len(msg));
	v->have_throughput = true;
	for (int i = 0; i < __THR_MAX; i++)
		copy_text(v->throughput[i], FIELD_SIZE, tb[i]);
}

static void on_port(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct slot_row *row = req->priv;
	struct blob_attr *tb[__PORT_MAX];

	blobmsg_parse(port_policy, __PORT_MAX, tb, blob_data(msg), blob_len(msg));
	row->ok = tb[PORT_TX_BYTES] && tb[PORT_RX_BYTES];
	for (int i = 0; i < __PORT_MAX; i++)
		copy_text(row->field[i], FIELD_SIZE, tb[i]);
}

static void take_speeds(struct spark *sp, struct blob_attr *array)
{
	struct blob_attr *cur;
	size_t rem;

	sp->n = 0;
	blobmsg_for_each_attr(cur, array, rem) {
		if (blobmsg_type(cur) != BLOBMSG_TYPE_STRING)
			continue;
		if (sp->n == SPARK_LEN) {
			memmove(sp->v, sp->v + 1, sizeof(sp->v) - sizeof(sp->v[0]));
			sp->n--;
		}
		sp->v[sp->n++] = strtod(blobmsg_get_string(cur), NULL);
	}
}

static void on_history(struct ubus_request *req, int type, struct blob_attr *msg)
{
	struct slot_row *row = req->priv;
	struct blob_attr *tb[__HIST_MAX];

	blobmsg_parse(history_policy, __HIST_MAX, tb, blob_data(msg), blob_len(msg));
	if (!tb[HIST_TX] || !tb[HIST_RX])
		return;
	row->have_history = true;
	for (int i = 0; i < __HIST_MAX; i++)
		take_speeds(&row->history[i], tb[i]);
}

static int call(uint32_t id, const char *method, struct blob_attr *args,
		ubus_data_handler_t cb, void *priv)
{
	return ubus_invoke(ctx, id, method, args, cb, priv, CALL_TIMEOUT_MS);
}

/* Labels come from the same configuration veloxd reads; a missing key leaves a plain role name. */
static bool conf_get(struct uci_context *uci, const char *key, char *out, size_t size)
{
	char buf[64];
	struct uci_ptr ptr;

	snprintf(buf, sizeof(buf), "%s", key);
	if (uci_lookup_ptr(uci, &ptr, buf, true) != UCI_OK || !ptr.o ||
	    ptr.o->type != UCI_TYPE_STRING)
		return false;
	snprintf(out, size, "%s", ptr.o->v.string);
	return true;
}

static void load_names(struct view *v)
{
	struct uci_context *uci = uci_alloc_context();
	char port[16];

	for (int i = 0; i < SLOT_COUNT; i++)
		snprintf(v->names[i], FIELD_SIZE, "slot %d", i);
	snprintf(v->names[2], FIELD_SIZE, "wired total");
	snprintf(v->mode, FIELD_SIZE, "?");
	for (int lan = 0; lan < 2; lan++) {
		char key[32];

		snprintf(key, sizeof(key), "phy_map.map.lan%d", lan);
		if (uci && conf_get(uci, key, port, sizeof(port)))
			snprintf(v->names[lan], FIELD_SIZE, "lan%d (port %s)", lan, port);
		else
			snprintf(v->names[lan], FIELD_SIZE, "lan%d", lan);
	}
	if (!uci)
		return;
	conf_get(uci, "interface.name.wlan0", v->names[3], FIELD_SIZE);
	conf_get(uci, "interface.name.wlan7", v->names[7], FIELD_SIZE);
	conf_get(uci, "interface.name.bridge", v->names[9], FIELD_SIZE);
	conf_get(uci, "opmode.op.mode", v->mode, FIELD_SIZE);
	uci_free_context(uci);
}

static const char *marker(const struct view *v, int slot)
{
	if (!v->have_display)
		return "  ";
	if (v->display[0] == slot && v->display[1] == slot)
		return "12";
	if (v->display[0] == slot)
		return "1 ";
	if (v->display[1] == slot)
		return " 2";
	return "  ";
}

static const char *name_of(const struct view *v, int slot)
{
	return slot >= 0 && slot < SLOT_COUNT ? v->names[slot] : "?";
}

/* A line of SPARK_LEN characters, each sample's height against the largest, and that largest. */
static void print_spark(const char *label, const struct spark *sp)
{
	static const char levels[] = " .:-=+*#%@";
	double top = 0.0;
	char line[SPARK_LEN + 1];
	int i, pad = SPARK_LEN - sp->n;

	for (i = 0; i < sp->n; i++)
		if (sp->v[i] > top)
			top = sp->v[i];
	memset(line, ' ', SPARK_LEN);
	line[SPARK_LEN] = '\0';
	for (i = 0; i < sp->n; i++) {
		int level = top > 0.0 ? (int)(sp->v[i] / top * (sizeof(levels) - 2) + 0.5) : 0;

		line[pad + i] = levels[level];
	}
	printf("  %s |%s| %10.2f", label, line, top);
}

static void render(const struct view *v, const char *status)
{
	char stamp[32];
	time_t now = time(NULL);

	strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", localtime(&now));
	if (clear_screen)
		fputs("\033[H\033[2J", stdout);
	printf("veloxtop  %s  bus %s  mode %s  (speeds in 1024 bit/s, every 1 s, Ctrl-C quits)\n",
	       stamp, socket_path, v->mode);
	if (status) {
		printf("%s\n", status);
		goto out;
	}
	if (v->have_display && v->have_throughput) {
		printf("display 1: slot %-2d %-16s tx %12s  rx %12s\n", v->display[0],
		       name_of(v, v->display[0]), v->throughput[THR_1_TX], v->throughput[THR_1_RX]);
		printf("display 2: slot %-2d %-16s tx %12s  rx %12s\n", v->display[1],
		       name_of(v, v->display[1]), v->throughput[THR_2_TX], v->throughput[THR_2_RX]);
	}
	printf("\n%4s %2s %-16s %12s %12s %16s %16s %12s %12s\n", "slot", "ds", "interface",
	       "tx speed", "rx speed", "tx bytes", "rx bytes", "tx packets", "rx packets");
	for (int i = 0; i < v->n_slots; i++) {
		const struct slot_row *r = &v->rows[i];

		if (!r->ok) {
			printf("%4d %2s %-16s %s\n", r->slot, marker(v, r->slot),
			       name_of(v, r->slot), "(no reply)");
			continue;
		}
		printf("%4d %2s %-16s %12s %12s %16s %16s %12s %12s\n", r->slot,
		       marker(v, r->slot), name_of(v, r->slot),
		       r->field[PORT_TX_SPEED], r->field[PORT_RX_SPEED],
		       r->field[PORT_TX_BYTES], r->field[PORT_RX_BYTES],
		       r->field[PORT_TX_PACKETS], r->field[PORT_RX_PACKETS]);
	}
	if (v->n_slots)
		printf("\nlast %d s of each slot, each line against its largest speed:\n", SPARK_LEN);
	for (int i = 0; i < v->n_slots; i++) {
		const struct slot_row *r = &v->rows[i];

		if (!r->have_history)
			continue;
		printf("%4d    %-16s", r->slot, name_of(v, r->slot));
		print_spark("tx", &r->history[HIST_TX]);
		print_spark("rx", &r->history[HIST_RX]);
		putchar('\n');
	}
	if (!v->have_list)
		printf("(no slot list from veloxd)\n");
	else if (v->n_slots == 0)
		printf("(veloxd lists no slots: wireless mode not recognised)\n");
out:
	if (batch)
		putchar('\n');
	fflush(stdout);
}

static void lost(struct ubus_context *c)
{
	/* Freed on the next tick, outside the library's own read path. */
	ctx_lost = true;
}

static bool ensure_connected(void)
{
	if (ctx && ctx_lost) {
		ubus_free(ctx);
		ctx = NULL;
	}
	if (ctx)
		return true;
	ctx_lost = false;
	ctx = ubus_connect(socket_path);
	if (!ctx)
		return false;
	ctx->connection_lost = lost;
	return true;
}

static void refresh(void)
{
	static struct view v;
	uint32_t id, history_id;
	char status[160];

	memset(&v, 0, sizeof(v));
	load_names(&v);
	if (!ensure_connected()) {
		snprintf(status, sizeof(status), "waiting for ubusd on %s ...", socket_path);
		render(&v, status);
		return;
	}
	if (ubus_lookup_id(ctx, "veloxd", &id) != UBUS_STATUS_OK) {
		render(&v, "waiting for veloxd on the bus ...");
		return;
	}
	call(id, "get_interface_list", NULL, on_list, &v);
	call(id, "get_display_interface", NULL, on_display, &v);
	call(id, "get_throughput", NULL, on_throughput, &v);
	/* Without the history object (an older veloxd) the view has no sparklines. */
	if (ubus_lookup_id(ctx, "veloxd.history", &history_id) != UBUS_STATUS_OK)
		history_id = 0;
	for (int i = 0; i < v.n_slots && !ctx_lost; i++) {
		blob_buf_init(&req_buf, 0);
		blobmsg_add_u32(&req_buf, "interface1", (uint32_t)v.rows[i].slot);
		call(id, "get_lan_port_info", req_buf.head, on_port, &v.rows[i]);
		if (history_id)
			call(history_id, "get_history", req_buf.head, on_history, &v.rows[i]);
	}
	render(&v, NULL);
}

static void on_tick(struct uloop_timeout *t)
{
	refresh();
	if (refreshes_left > 0 && --refreshes_left == 0) {
		uloop_end();
		return;
	}
	uloop_timeout_set(t, 1000);
}

static void usage(const char *prog)
{
	fprintf(stderr,
		"Usage: %s [-s <socket>] [-n <count>] [-b]\n"
		" -s <socket>  ubus socket (default %s)\n"
		" -n <count>   stop after <count> refreshes\n"
		" -b           batch output: append each refresh instead of redrawing\n",
		prog, DEFAULT_SOCKET);
}

int main(int argc, char **argv)
{
	int opt;

	while ((opt = getopt(argc, argv, "s:n:bh")) != -1) {
		switch (opt) {
		case 's':
			socket_path = optarg;
			break;
		case 'n':
			refreshes_left = atoi(optarg);
			if (refreshes_left <= 0) {
				usage(argv[0]);
				return 1;
			}
			break;
		case 'b':
			batch = true;
			break;
		default:
			usage(argv[0]);
			return opt == 'h' ? 0 : 1;
		}
	}
	clear_screen = !batch && isatty(STDOUT_FILENO);

	uloop_init();
	tick.cb = on_tick;
	uloop_timeout_set(&tick, 0);
	uloop_run();
	uloop_done();
	if (ctx)
		ubus_free(ctx);
	blob_buf_free(&req_buf);
	return 0;
}
