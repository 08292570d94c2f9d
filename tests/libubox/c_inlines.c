/*
 * The header inlines compiled as C: builders and walkers used from the C++
 * tests to check that both languages produce the same bytes.
 */
#include <libubox/blobmsg.h>
#include <libubox/blobmsg_json.h>
#include <libubox/uloop.h>
#include <libubox/avl.h>
#include <libubox/avl-cmp.h>
#include <libubox/usock.h>

#include "c_inlines.h"

int
c_build_dump_e(struct blob_buf *b)
{
	void *tbl, *arr;

	if (blob_buf_init(b, 0))
		return -1;

	tbl = blobmsg_open_table(b, "tbl");
	blobmsg_add_string(b, "name", "eth0");
	blobmsg_add_u8(b, "up", 1);
	blobmsg_add_u16(b, "mtu16", 1500);
	blobmsg_add_u32(b, "rx", 0xffffffff);
	blobmsg_add_u64(b, "bytes", 1ULL << 40);
	blobmsg_add_double(b, "rate", 0.25);
	blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, "none", NULL, 0);
	arr = blobmsg_open_array(b, "a");
	blobmsg_add_string(b, NULL, "x");
	blobmsg_close_array(b, arr);
	blobmsg_close_table(b, tbl);
	return 0;
}

int
c_count_children(struct blob_attr *attr)
{
	struct blob_attr *cur;
	size_t rem;
	int n = 0;

	blobmsg_for_each_attr(cur, attr, rem)
		n++;
	return n;
}

int
c_flag_values(void)
{
	return (ULOOP_READ | ULOOP_BLOCKING) * 1000 + ULOOP_EVENT_MASK * 100 +
	       BLOBMSG_TYPE_LAST * 10 + (USOCK_UNIX == 0x8000);
}
