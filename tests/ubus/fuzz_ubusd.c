/*
 * fuzz_ubusd.c - libFuzzer target: the broker's message input
 *
 * Two clients on socket pairs; A has published "demo" first. The input is a
 * run of records [client+flags][split][len lo][len hi][bytes...], each fed to
 * one client in two pieces. Inside the bytes, the markers a0 b0 c0 d0 and
 * a1 b1 c1 d1 become A's object id and B's client id, so calls and replies
 * can reach real objects and peers.
 */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ubusd.h"

static const uint8_t add_demo[] = {
	0x00, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5c,
	0x02, 0x00, 0x00, 0x09, 'd', 'e', 'm', 'o', 0x00, 0x00, 0x00, 0x00,
	0x06, 0x00, 0x00, 0x4c,
	0x82, 0x00, 0x00, 0x10, 0x00, 0x06, 's', 't', 'a', 't', 'u', 's', 0x00, 0x00, 0x00, 0x00,
	0x82, 0x00, 0x00, 0x38, 0x00, 0x01, 'm', 0x00,
	0x85, 0x00, 0x00, 0x18, 0x00, 0x0a, 'i', 'n', 't', 'e', 'r', 'f', 'a', 'c', 'e', '1',
	0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
	0x85, 0x00, 0x00, 0x18, 0x00, 0x0a, 'i', 'n', 't', 'e', 'r', 'f', 'a', 'c', 'e', '2',
	0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05,
};

struct side {
	struct ubusd_client *cl;
	uint32_t id;
	int peer;
};

static void drain(int fd)
{
	uint8_t buf[4096];

	while (read(fd, buf, sizeof(buf)) > 0)
		;
}

static bool open_side(struct side *s)
{
	int sv[2];

	if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) < 0)
		return false;
	fcntl(sv[0], F_SETFL, O_NONBLOCK);
	fcntl(sv[1], F_SETFL, O_NONBLOCK);
	s->peer = sv[1];
	s->cl = ubusd_client_new(sv[0], false);
	if (!s->cl) {
		close(sv[1]);
		return false;
	}
	s->id = s->cl->id;
	return true;
}

/* Clients the broker dropped and freed are forgotten here too. */
static void refresh(struct side *s)
{
	if (s->cl && !avl_find(&ubusd_clients, &s->id))
		s->cl = NULL;
}

static void put_be32(uint8_t *p, uint32_t v)
{
	p[0] = v >> 24;
	p[1] = v >> 16;
	p[2] = v >> 8;
	p[3] = v;
}

static void patch(uint8_t *p, size_t len, uint32_t obj, uint32_t client)
{
	static const uint8_t obj_mark[4] = { 0xa0, 0xb0, 0xc0, 0xd0 };
	static const uint8_t client_mark[4] = { 0xa1, 0xb1, 0xc1, 0xd1 };

	for (size_t i = 0; i + 4 <= len; i++) {
		if (!memcmp(p + i, obj_mark, 4))
			put_be32(p + i, obj);
		else if (!memcmp(p + i, client_mark, 4))
			put_be32(p + i, client);
	}
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static bool init;
	struct side sides[2] = { { 0 } };
	struct ubusd_object *demo;
	uint32_t demo_id = 0;

	if (!init) {
		ubusd_state_init();
		init = true;
	}
	if (!open_side(&sides[0]) || !open_side(&sides[1]))
		goto out;
	ubusd_client_feed(sides[0].cl, add_demo, sizeof(add_demo));
	demo = avl_find_element(&ubusd_paths, "demo", demo, path_avl);
	if (demo)
		demo_id = demo->id;

	while (size >= 4) {
		struct side *s = &sides[data[0] & 1];
		size_t len = data[2] | (data[3] << 8);
		size_t split;
		uint8_t *buf;

		if (len > size - 4)
			len = size - 4;
		split = len ? data[1] % (len + 1) : 0;
		buf = malloc(len ? len : 1);
		if (!buf)
			break;
		memcpy(buf, data + 4, len);
		patch(buf, len, demo_id, sides[1].id);
		if (s->cl && ubusd_client_feed(s->cl, buf, split))
			ubusd_client_feed(s->cl, buf + split, len - split);
		free(buf);
		ubusd_reap();
		refresh(&sides[0]);
		refresh(&sides[1]);
		drain(sides[0].peer);
		drain(sides[1].peer);
		data += 4 + len;
		size -= 4 + len;
	}
out:
	ubusd_free_all();
	for (int i = 0; i < 2; i++)
		if (sides[i].peer > 0)
			close(sides[i].peer);
	/* every client gone: no object and no type may be left behind */
	if (!avl_is_empty(&ubusd_objects) || !avl_is_empty(&ubusd_types) ||
	    !avl_is_empty(&ubusd_paths))
		abort();
	return 0;
}
