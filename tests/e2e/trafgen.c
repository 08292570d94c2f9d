/*
 * trafgen: send raw Ethernet frames of a local experimental ethertype out of
 * one interface at a fixed byte rate. Built for the veloxd end-to-end tests
 * and the demo, it only runs inside a private network namespace: the frames
 * carry no IP and nothing outside the namespace ever sees them.
 *
 * Usage: trafgen -i IFACE -d DSTMAC -r BYTES_PER_SECOND [-l FRAME_LEN] [-t SECONDS]
 * The rate counts whole frames as the kernel counts them on a veth
 * (Ethernet header and payload, no FCS).
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <getopt.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define ETHERTYPE_LOCAL_EXP 0x88B5
#define TICK_NS 2000000L

static volatile sig_atomic_t stop;

static void on_signal(int sig)
{
	stop = 1;
}

static int parse_mac(const char *text, uint8_t mac[6])
{
	unsigned int b[6];

	if (sscanf(text, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
		return -1;
	for (int i = 0; i < 6; i++) {
		if (b[i] > 0xff)
			return -1;
		mac[i] = (uint8_t)b[i];
	}
	return 0;
}

/* A namespace with a default route reaches beyond itself. */
static int has_default_route(void)
{
	char line[256], ifname[64];
	unsigned int dest;
	FILE *f = fopen("/proc/net/route", "r");
	int found = 0;

	if (!f)
		return 0;
	while (!found && fgets(line, sizeof(line), f))
		found = sscanf(line, "%63s %x", ifname, &dest) == 2 && dest == 0;
	fclose(f);
	return found;
}

/*
 * The sandbox records the namespace it was started from: with its own PID
 * namespace, PID 1 is the sandbox itself and cannot tell us.
 */
static int in_private_netns(void)
{
	char self[64] = "", init[64] = "";
	const char *outer = getenv("VX_OUTER_NETNS");

	if (readlink("/proc/self/ns/net", self, sizeof(self) - 1) < 0)
		return 0;
	if (has_default_route())
		return 0;
	if (outer && *outer)
		return strcmp(self, outer) != 0;
	/* Not readable from an unprivileged user namespace: then we are not in PID 1's. */
	if (readlink("/proc/1/ns/net", init, sizeof(init) - 1) < 0)
		return 1;
	return strcmp(self, init) != 0;
}

static double now_s(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
	const char *ifname = NULL;
	uint8_t dst[6] = { 0 }, frame[ETH_FRAME_LEN];
	double rate = 0, seconds = 0;
	int len = 1000, opt, have_dst = 0;

	while ((opt = getopt(argc, argv, "i:d:r:l:t:")) != -1) {
		switch (opt) {
		case 'i': ifname = optarg; break;
		case 'd': have_dst = parse_mac(optarg, dst) == 0; break;
		case 'r': rate = atof(optarg); break;
		case 'l': len = atoi(optarg); break;
		case 't': seconds = atof(optarg); break;
		default: goto usage;
		}
	}
	if (!ifname || !have_dst || rate <= 0 || len < 60 || len > ETH_FRAME_LEN)
		goto usage;
	if (!in_private_netns()) {
		fprintf(stderr, "trafgen: refusing to run outside a private network namespace\n");
		return 1;
	}

	int fd = socket(AF_PACKET, SOCK_RAW, htons(ETHERTYPE_LOCAL_EXP));
	if (fd < 0) {
		perror("trafgen: socket");
		return 1;
	}
	struct ifreq ifr;
	memset(&ifr, 0, sizeof(ifr));
	snprintf(ifr.ifr_name, sizeof(ifr.ifr_name), "%s", ifname);
	if (ioctl(fd, SIOCGIFINDEX, &ifr) < 0) {
		perror("trafgen: interface");
		return 1;
	}
	int ifindex = ifr.ifr_ifindex;
	if (ioctl(fd, SIOCGIFHWADDR, &ifr) < 0) {
		perror("trafgen: hardware address");
		return 1;
	}
	struct sockaddr_ll sll;
	memset(&sll, 0, sizeof(sll));
	sll.sll_family = AF_PACKET;
	sll.sll_protocol = htons(ETHERTYPE_LOCAL_EXP);
	sll.sll_ifindex = ifindex;
	if (bind(fd, (struct sockaddr *)&sll, sizeof(sll)) < 0) {
		perror("trafgen: bind");
		return 1;
	}

	memset(frame, 0, sizeof(frame));
	memcpy(frame, dst, 6);
	memcpy(frame + 6, ifr.ifr_hwaddr.sa_data, 6);
	frame[12] = ETHERTYPE_LOCAL_EXP >> 8;
	frame[13] = ETHERTYPE_LOCAL_EXP & 0xff;

	signal(SIGINT, on_signal);
	signal(SIGTERM, on_signal);

	/* Keep the bytes sent on the straight line rate * elapsed, topped up every tick. */
	double start = now_s();
	unsigned long long sent = 0;
	struct timespec next;
	clock_gettime(CLOCK_MONOTONIC, &next);
	while (!stop) {
		double elapsed = now_s() - start;

		if (seconds > 0 && elapsed >= seconds)
			break;
		while (!stop && (double)(sent + len) <= rate * elapsed) {
			if (send(fd, frame, len, 0) != len) {
				if (errno == ENOBUFS || errno == EAGAIN || errno == EINTR)
					break;
				perror("trafgen: send");
				return 1;
			}
			sent += len;
		}
		next.tv_nsec += TICK_NS;
		if (next.tv_nsec >= 1000000000L) {
			next.tv_nsec -= 1000000000L;
			next.tv_sec++;
		}
		clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
	}
	close(fd);
	return 0;

usage:
	fprintf(stderr, "Usage: %s -i IFACE -d DSTMAC -r BYTES_PER_SECOND [-l FRAME_LEN] [-t SECONDS]\n",
		argv[0]);
	return 2;
}
