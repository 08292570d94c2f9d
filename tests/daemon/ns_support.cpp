#include "ns_support.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/veth.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static std::string errtext(const char *what)
{
	return std::string(what) + ": " + strerror(errno);
}

static std::string overlay(const char *dir, const char *name)
{
	std::string up = std::string("/tmp/.ns/") + name + "-u";
	std::string work = std::string("/tmp/.ns/") + name + "-w";
	std::string opts = std::string("lowerdir=") + dir + ",upperdir=" + up + ",workdir=" + work;

	mkdir("/tmp/.ns", 0755);
	if (mkdir(up.c_str(), 0755) != 0 || mkdir(work.c_str(), 0755) != 0)
		return errtext("mkdir overlay dirs");
	if (mount("overlay", dir, "overlay", 0, opts.c_str()) != 0)
		return errtext("overlay mount");
	return "";
}

static void disable_ipv6()
{
	for (const char *p : { "/proc/sys/net/ipv6/conf/default/disable_ipv6",
			       "/proc/sys/net/ipv6/conf/all/disable_ipv6" }) {
		int fd = open(p, O_WRONLY);

		if (fd < 0)
			continue;
		if (write(fd, "1", 1) < 0) {
			/* no IPv6 in this kernel: nothing to switch off */
		}
		close(fd);
	}
}

static std::string setup_namespaces()
{
	std::string why;

	if (geteuid() != 0)
		return "not running as root";
	if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0)
		return errtext("unshare");
	if (mount(NULL, "/", NULL, MS_REC | MS_PRIVATE, NULL) != 0)
		return errtext("make / private");
	if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0)
		return errtext("tmpfs on /tmp");
	/* the run's own scratch directory is not in this /tmp */
	setenv("TMPDIR", "/tmp", 1);
	why = overlay("/etc", "etc");
	if (why.empty())
		why = overlay("/var", "var");
	if (!why.empty())
		return why;
	mkdir("/etc/config", 0755);
	mkdir("/var/state", 0755);
	disable_ipv6();
	return "";
}

std::string enter_test_namespaces()
{
	static bool done;
	static std::string why;

	if (!done) {
		why = setup_namespaces();
		done = true;
	}
	return why;
}

void write_file(const std::string &path, const std::string &text)
{
	FILE *f = fopen(path.c_str(), "w");

	if (!f)
		return;
	fwrite(text.data(), 1, text.size(), f);
	fclose(f);
}

std::string read_file(const std::string &path)
{
	std::string out;
	char buf[4096];
	size_t n;
	FILE *f = fopen(path.c_str(), "r");

	if (!f)
		return out;
	while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
		out.append(buf, n);
	fclose(f);
	return out;
}

static std::string capture_fd(int target, FILE *stream, const std::function<void()> &fn)
{
	const char *tmp = getenv("TMPDIR");
	std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/capture-XXXXXX";
	char *path = &tmpl[0];
	int fd = mkstemp(path);
	int saved;
	std::string out;

	if (fd < 0) {
		/* no scratch directory: fall back to the working directory */
		tmpl = "capture-XXXXXX";
		path = &tmpl[0];
		fd = mkstemp(path);
	}
	fflush(stream);
	saved = dup(target);
	dup2(fd, target);
	fn();
	fflush(stream);
	dup2(saved, target);
	close(saved);
	close(fd);
	out = read_file(path);
	unlink(path);
	return out;
}

std::string capture_stdout(const std::function<void()> &fn)
{
	return capture_fd(1, stdout, fn);
}

std::string capture_stderr(const std::function<void()> &fn)
{
	return capture_fd(2, stderr, fn);
}

struct nl_req {
	struct nlmsghdr n;
	struct ifinfomsg i;
	char buf[512];
};

static struct rtattr *add_attr(struct nl_req *r, int type, const void *data, size_t len)
{
	struct rtattr *a = (struct rtattr *)((char *)r + NLMSG_ALIGN(r->n.nlmsg_len));

	a->rta_type = (unsigned short)type;
	a->rta_len = (unsigned short)RTA_LENGTH(len);
	if (len)
		memcpy(RTA_DATA(a), data, len);
	r->n.nlmsg_len = NLMSG_ALIGN(r->n.nlmsg_len) + RTA_ALIGN(a->rta_len);
	return a;
}

static void end_nest(struct nl_req *r, struct rtattr *nest)
{
	nest->rta_len = (unsigned short)((char *)r + r->n.nlmsg_len - (char *)nest);
}

static int link_up(const char *name)
{
	struct ifreq ifr;
	int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	int ret = 0;

	if (fd < 0)
		return -errno;
	memset(&ifr, 0, sizeof(ifr));
	snprintf(ifr.ifr_name, sizeof(ifr.ifr_name), "%s", name);
	if (ioctl(fd, SIOCGIFFLAGS, &ifr) != 0) {
		ret = -errno;
	} else {
		ifr.ifr_flags |= IFF_UP;
		if (ioctl(fd, SIOCSIFFLAGS, &ifr) != 0)
			ret = -errno;
	}
	close(fd);
	return ret;
}

static bool running(const char *name)
{
	struct ifreq ifr;
	int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	bool up;

	if (fd < 0)
		return false;
	memset(&ifr, 0, sizeof(ifr));
	snprintf(ifr.ifr_name, sizeof(ifr.ifr_name), "%s", name);
	up = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags & IFF_RUNNING);
	close(fd);
	return up;
}

/*
 * The kernel attaches the transmit queue a moment after the link comes up,
 * from its link watcher (up to a second later); frames sent before that are
 * dropped. Given up after 20 s.
 */
static int wait_running(const char *a, const char *b)
{
	for (int i = 0; i < 2000; i++) {
		if (running(a) && running(b)) {
			usleep(20000);
			return 0;
		}
		usleep(10000);
	}
	return -ETIMEDOUT;
}

int make_veth(const char *a, const char *b)
{
	struct nl_req r;
	struct rtattr *info, *data, *peer;
	struct ifinfomsg peer_info;
	char reply[1024];
	int fd, ret;

	memset(&r, 0, sizeof(r));
	r.n.nlmsg_len = NLMSG_LENGTH(sizeof(struct ifinfomsg));
	r.n.nlmsg_type = RTM_NEWLINK;
	r.n.nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL | NLM_F_ACK;
	r.i.ifi_family = AF_UNSPEC;
	add_attr(&r, IFLA_IFNAME, a, strlen(a) + 1);
	info = add_attr(&r, IFLA_LINKINFO, NULL, 0);
	add_attr(&r, IFLA_INFO_KIND, "veth", 4);
	data = add_attr(&r, IFLA_INFO_DATA, NULL, 0);
	memset(&peer_info, 0, sizeof(peer_info));
	peer = add_attr(&r, VETH_INFO_PEER, &peer_info, sizeof(peer_info));
	add_attr(&r, IFLA_IFNAME, b, strlen(b) + 1);
	end_nest(&r, peer);
	end_nest(&r, data);
	end_nest(&r, info);

	fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
	if (fd < 0)
		return -errno;
	if (send(fd, &r, r.n.nlmsg_len, 0) < 0 || recv(fd, reply, sizeof(reply), 0) < 0) {
		ret = -errno;
		close(fd);
		return ret;
	}
	close(fd);
	struct nlmsghdr *h = (struct nlmsghdr *)reply;
	if (h->nlmsg_type == NLMSG_ERROR) {
		ret = ((struct nlmsgerr *)NLMSG_DATA(h))->error;
		if (ret)
			return ret;
	}
	ret = link_up(a);
	if (!ret)
		ret = link_up(b);
	return ret ? ret : wait_running(a, b);
}

int send_frames(const char *ifname, int count, int size)
{
	unsigned char frame[1514];
	struct sockaddr_ll sll;
	int fd, sent = 0;

	if (size < 14 || size > (int)sizeof(frame))
		return 0;
	fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return 0;
	memset(&sll, 0, sizeof(sll));
	sll.sll_family = AF_PACKET;
	sll.sll_ifindex = (int)if_nametoindex(ifname);
	sll.sll_halen = 6;
	memset(sll.sll_addr, 0xff, 6);
	memset(frame, 0, sizeof(frame));
	memset(frame, 0xff, 6);                    /* broadcast */
	frame[6] = 0x02;                           /* locally administered source */
	frame[12] = 0x88;                          /* local experimental ethertype */
	frame[13] = 0xb5;
	for (int i = 0; i < count; i++) {
		if (sendto(fd, frame, (size_t)size, 0, (struct sockaddr *)&sll, sizeof(sll)) == size)
			sent++;
	}
	close(fd);
	return sent;
}

bool kernel_counters_of(const char *ifname, kernel_counters *out)
{
	char line[512];
	size_t len = strlen(ifname);
	bool found = false;
	FILE *f = fopen("/proc/net/dev", "r");

	if (!f)
		return false;
	while (!found && fgets(line, sizeof(line), f)) {
		char *p = line;
		unsigned long long v[4];

		while (*p == ' ')
			p++;
		if (strncmp(p, ifname, len) != 0 || p[len] != ':')
			continue;
		if (sscanf(p + len + 1, "%llu%llu%*u%*u%*u%*u%*u%*u%llu%llu", &v[0], &v[1], &v[2], &v[3]) == 4) {
			*out = { v[0], v[1], v[2], v[3] };
			found = true;
		}
	}
	fclose(f);
	return found;
}
