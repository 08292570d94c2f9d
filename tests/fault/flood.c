/*
 * vx_flood: a bus client that calls a method of veloxd as fast as its socket
 * takes the calls and never reads a reply, as a stuck or hostile client
 * would. Runs until it is killed or the bus drops it.
 *
 * Usage: vx_flood [-s socket] [-m method]
 */
#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

#include <libubox/blob.h>
#include <libubus.h>

/* One INVOKE with an empty argument table, written by hand: the library
 * would wait for each reply. */
static int flood(int fd, uint32_t id, const char *method)
{
	struct blob_buf b;
	struct ubus_msghdr hdr = { .version = 0, .type = UBUS_MSG_INVOKE };

	memset(&b, 0, sizeof(b));
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, id);
	blob_put_string(&b, UBUS_ATTR_METHOD, method);
	blob_nest_end(&b, blob_nest_start(&b, UBUS_ATTR_DATA));
	hdr.peer = htonl(id);

	for (uint16_t seq = 1;; seq++) {
		struct iovec iov[2] = {
			{ .iov_base = &hdr, .iov_len = sizeof(hdr) },
			{ .iov_base = b.head, .iov_len = blob_pad_len(b.head) },
		};
		size_t want = iov[0].iov_len + iov[1].iov_len;

		hdr.seq = htons(seq);
		if (writev(fd, iov, 2) != (ssize_t)want)
			break;
	}
	blob_buf_free(&b);
	return 0;
}

int main(int argc, char **argv)
{
	const char *sock = "/var/run/ubus.sock", *method = "get_throughput";
	struct ubus_context *ctx;
	uint32_t id;
	int opt;

	while ((opt = getopt(argc, argv, "s:m:")) != -1) {
		switch (opt) {
		case 's': sock = optarg; break;
		case 'm': method = optarg; break;
		default:
			fprintf(stderr, "Usage: %s [-s socket] [-m method]\n", argv[0]);
			return 2;
		}
	}
	ctx = ubus_connect(sock);
	if (!ctx || ubus_lookup_id(ctx, "veloxd", &id) != 0) {
		fprintf(stderr, "vx_flood: no veloxd on %s\n", sock);
		return 1;
	}
	/* The library's event loop took these over: be killable again. */
	signal(SIGTERM, SIG_DFL);
	signal(SIGINT, SIG_DFL);
	/* Blocking writes: the flood goes at the pace the bus reads it. */
	fcntl(ctx->sock.fd, F_SETFL, fcntl(ctx->sock.fd, F_GETFL) & ~O_NONBLOCK);
	flood(ctx->sock.fd, id, method);
	ubus_free(ctx);
	return 0;
}
