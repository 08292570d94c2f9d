/*
 * switchsim: host stand-in for the router's Ethernet switch driver.
 *
 * Preload it (LD_PRELOAD=libswitchsim.so) into a program that asks the
 * driver for switch port counters: ioctl(fd, 0x89F6, struct ifreq *) on
 * "eth1", with ifr_data pointing at the 364-byte request block whose first
 * word is 0x89F30005 and whose 16-bit word at offset 22 is the port. The
 * reply is written into the same block in host byte order:
 *   72..92   six receive packet words     104/108  receive bytes high/low
 *   140..160 six transmit packet words    172/176  transmit bytes high/low
 * A block with another command word, or a port above 4, fails with EINVAL.
 * Every other ioctl, and 0x89F6 on any other interface, goes to the C library.
 *
 * Environment (read at every request, so a test may change it as it goes;
 * changing a port's source starts that port afresh):
 *   SWITCHSIM_FAIL=1             every request fails (errno EIO)
 *   SWITCHSIM_PORT<n>=SOURCE     source of switch port n (0 to 4):
 *     iface:NAME    the counters of kernel interface NAME, as /proc/net/dev of
 *                   the calling process shows them, reported as the change
 *                   since this port's previous request; the first request
 *                   reports them whole, as a switch does after power-on, so
 *                   the caller's running totals equal the interface's.
 *                   Transmit is the interface's transmit. A missing
 *                   interface fails the request (ENODEV).
 *     script:PATH   request k of this port gets line k of the file: white-
 *                   space separated FIELD=VALUE (VALUE as strtoull base 0):
 *                     rx_packets tx_packets        first packet word
 *                     rx_pkt0..5 tx_pkt0..5        one packet word
 *                     rx_bytes tx_bytes            64-bit, high and low word
 *                     rx_bytes_hi rx_bytes_lo tx_bytes_hi tx_bytes_lo
 *                     @OFFSET                      any 32-bit word of the block
 *                   A line "fail" fails that request (EIO); an empty line is an
 *                   all-zero reply; lines starting with '#' are skipped.
 *                   After the last line every reply is all zeros.
 *     fail          every request for the port fails (EIO)
 *     zero, or unset  all-zero replies
 *   SWITCHSIM_LOG=PATH           append one line per request as received:
 *                   "port=<n> ifr_name=<name> block=<728 hex digits>"
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define REQ_IOCTL 0x89F6
#define REQ_CMD 0x89F30005u
#define REQ_IFNAME "eth1"
#define BLOCK_SIZE 364
#define PORT_OFF 22
#define PORTS 5
#define RX_PKT 72
#define RX_HI 104
#define TX_PKT 140
#define TX_HI 172
#define SOURCE_MAX 256

struct counters {
	uint64_t rx_bytes, rx_packets, tx_bytes, tx_packets;
};

struct port_state {
	char source[SOURCE_MAX];
	unsigned long requests;
	struct counters prev;
};

typedef int (*ioctl_fn)(int, unsigned long, ...);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct port_state ports[PORTS];

static int real_ioctl(int fd, unsigned long req, void *arg)
{
	static ioctl_fn next;

	if (!next)
		next = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
	if (!next) {
		errno = ENOSYS;
		return -1;
	}
	return next(fd, req, arg);
}

static void put_word(unsigned char *block, unsigned int off, uint32_t v)
{
	if (off + 4 <= BLOCK_SIZE)
		memcpy(block + off, &v, sizeof(v));
}

static void put_bytes(unsigned char *block, unsigned int hi, uint64_t v)
{
	put_word(block, hi, (uint32_t)(v >> 32));
	put_word(block, hi + 4, (uint32_t)v);
}

static void log_request(int port, const struct ifreq *ifr, const unsigned char *block)
{
	const char *path = getenv("SWITCHSIM_LOG");
	char line[64 + IFNAMSIZ + 2 * BLOCK_SIZE];
	int n, fd;

	if (!path || !*path)
		return;
	n = snprintf(line, sizeof(line), "port=%d ifr_name=%.*s block=", port, IFNAMSIZ, ifr->ifr_name);
	for (int i = 0; i < BLOCK_SIZE; i++)
		n += snprintf(line + n, sizeof(line) - (size_t)n, "%02x", block[i]);
	line[n++] = '\n';
	fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
	if (fd < 0)
		return;
	if (write(fd, line, (size_t)n) < 0) {
		/* nothing to do: the log is a test aid */
	}
	close(fd);
}

/* Counters of one interface from /proc/net/dev of the caller's namespace. */
static int read_iface(const char *name, struct counters *c)
{
	char line[512];
	size_t len = strlen(name);
	int found = -1;
	FILE *f = fopen("/proc/net/dev", "re");

	if (!f)
		return -1;
	while (found < 0 && fgets(line, sizeof(line), f)) {
		char *p = line;

		while (*p == ' ')
			p++;
		if (strncmp(p, name, len) != 0 || p[len] != ':')
			continue;
		if (sscanf(p + len + 1, "%llu%llu%*u%*u%*u%*u%*u%*u%llu%llu",
			   (unsigned long long *)&c->rx_bytes, (unsigned long long *)&c->rx_packets,
			   (unsigned long long *)&c->tx_bytes, (unsigned long long *)&c->tx_packets) == 4)
			found = 0;
	}
	fclose(f);
	return found;
}

static uint64_t since(uint64_t now, uint64_t prev)
{
	/* A counter that went down belongs to a new interface: report it whole. */
	return now >= prev ? now - prev : now;
}

static int serve_iface(struct port_state *st, const char *name, unsigned char *block)
{
	struct counters now;

	if (read_iface(name, &now) != 0) {
		errno = ENODEV;
		return -1;
	}
	put_word(block, RX_PKT, (uint32_t)since(now.rx_packets, st->prev.rx_packets));
	put_bytes(block, RX_HI, since(now.rx_bytes, st->prev.rx_bytes));
	put_word(block, TX_PKT, (uint32_t)since(now.tx_packets, st->prev.tx_packets));
	put_bytes(block, TX_HI, since(now.tx_bytes, st->prev.tx_bytes));
	st->prev = now;
	return 0;
}

struct field {
	const char *name;
	unsigned int off;
	int wide; /* 64-bit value over a high and a low word */
};

static const struct field fields[] = {
	{ "rx_packets", RX_PKT, 0 },      { "tx_packets", TX_PKT, 0 },
	{ "rx_pkt0", RX_PKT, 0 },         { "rx_pkt1", RX_PKT + 4, 0 },
	{ "rx_pkt2", RX_PKT + 8, 0 },     { "rx_pkt3", RX_PKT + 12, 0 },
	{ "rx_pkt4", RX_PKT + 16, 0 },    { "rx_pkt5", RX_PKT + 20, 0 },
	{ "tx_pkt0", TX_PKT, 0 },         { "tx_pkt1", TX_PKT + 4, 0 },
	{ "tx_pkt2", TX_PKT + 8, 0 },     { "tx_pkt3", TX_PKT + 12, 0 },
	{ "tx_pkt4", TX_PKT + 16, 0 },    { "tx_pkt5", TX_PKT + 20, 0 },
	{ "rx_bytes", RX_HI, 1 },         { "tx_bytes", TX_HI, 1 },
	{ "rx_bytes_hi", RX_HI, 0 },      { "rx_bytes_lo", RX_HI + 4, 0 },
	{ "tx_bytes_hi", TX_HI, 0 },      { "tx_bytes_lo", TX_HI + 4, 0 },
};

static int apply_field(unsigned char *block, const char *name, uint64_t v)
{
	if (name[0] == '@') {
		put_word(block, (unsigned int)strtoul(name + 1, NULL, 0), (uint32_t)v);
		return 0;
	}
	for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); i++) {
		if (strcmp(fields[i].name, name) != 0)
			continue;
		if (fields[i].wide)
			put_bytes(block, fields[i].off, v);
		else
			put_word(block, fields[i].off, (uint32_t)v);
		return 0;
	}
	return -1;
}

static int apply_line(char *line, unsigned char *block)
{
	char *save = NULL;

	line[strcspn(line, "\r\n")] = '\0';
	if (strcmp(line, "fail") == 0) {
		errno = EIO;
		return -1;
	}
	for (char *tok = strtok_r(line, " \t", &save); tok; tok = strtok_r(NULL, " \t", &save)) {
		char *eq = strchr(tok, '=');

		if (!eq)
			continue;
		*eq = '\0';
		if (apply_field(block, tok, strtoull(eq + 1, NULL, 0)) != 0)
			fprintf(stderr, "switchsim: unknown field %s\n", tok);
	}
	return 0;
}

/* Line n (from 1, comment lines not counted) of the script, or an all-zero reply past its end. */
static int serve_script(unsigned long n, const char *path, unsigned char *block)
{
	char line[1024];
	unsigned long k = 0;
	int ret = 0;
	FILE *f = fopen(path, "re");

	if (!f) {
		errno = ENOENT;
		return -1;
	}
	while (fgets(line, sizeof(line), f)) {
		if (line[0] == '#')
			continue;
		if (++k == n) {
			ret = apply_line(line, block);
			break;
		}
	}
	fclose(f);
	return ret;
}

static int serve_port(int port, unsigned char *block)
{
	char name[16];
	struct port_state *st = &ports[port];
	const char *source;

	snprintf(name, sizeof(name), "SWITCHSIM_PORT%d", port);
	source = getenv(name);
	if (!source)
		source = "zero";
	if (strncmp(st->source, source, SOURCE_MAX) != 0) {
		memset(st, 0, sizeof(*st));
		snprintf(st->source, SOURCE_MAX, "%s", source);
	}
	st->requests++;
	if (strcmp(source, "fail") == 0) {
		errno = EIO;
		return -1;
	}
	if (strncmp(source, "iface:", 6) == 0)
		return serve_iface(st, source + 6, block);
	if (strncmp(source, "script:", 7) == 0)
		return serve_script(st->requests, source + 7, block);
	return 0;
}

static int switch_request(struct ifreq *ifr)
{
	unsigned char *block = (unsigned char *)ifr->ifr_data;
	const char *fail = getenv("SWITCHSIM_FAIL");
	uint32_t cmd;
	uint16_t port;
	int ret;

	if (!block) {
		errno = EFAULT;
		return -1;
	}
	memcpy(&cmd, block, sizeof(cmd));
	memcpy(&port, block + PORT_OFF, sizeof(port));
	log_request(port, ifr, block);
	if (cmd != REQ_CMD || port >= PORTS) {
		errno = EINVAL;
		return -1;
	}
	if (fail && strcmp(fail, "1") == 0) {
		errno = EIO;
		return -1;
	}
	/* The reply words are written over the request. */
	memset(block + RX_PKT, 0, BLOCK_SIZE - RX_PKT);
	pthread_mutex_lock(&lock);
	ret = serve_port(port, block);
	pthread_mutex_unlock(&lock);
	return ret;
}

int ioctl(int fd, unsigned long req, ...)
{
	va_list ap;
	void *arg;

	va_start(ap, req);
	arg = va_arg(ap, void *);
	va_end(ap);
	if (req == REQ_IOCTL && arg &&
	    strncmp(((struct ifreq *)arg)->ifr_name, REQ_IFNAME, IFNAMSIZ) == 0)
		return switch_request((struct ifreq *)arg);
	return real_ioctl(fd, req, arg);
}
