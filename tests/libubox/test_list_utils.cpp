// list.h and utils.h helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <libubox/list.h>
#include <libubox/utils.h>

#include "c_inlines.h"

namespace {

struct Entry {
	int v;
	struct list_head list;
};

std::vector<int> values(struct list_head *h)
{
	std::vector<int> out;
	Entry *e;
	list_for_each_entry(e, h, list)
		out.push_back(e->v);
	return out;
}

} // namespace

TEST(List, AddDelMoveSplice)
{
	LIST_HEAD(h);
	EXPECT_TRUE(list_empty(&h));
	Entry e[5];
	for (int i = 0; i < 5; i++)
		e[i].v = i;
	list_add_tail(&e[0].list, &h);
	list_add_tail(&e[1].list, &h);
	list_add(&e[2].list, &h);
	EXPECT_EQ(values(&h), (std::vector<int>{ 2, 0, 1 }));
	EXPECT_TRUE(list_is_first(&e[2].list, &h));
	EXPECT_TRUE(list_is_last(&e[1].list, &h));
	EXPECT_EQ(list_first_entry(&h, Entry, list), &e[2]);
	EXPECT_EQ(list_last_entry(&h, Entry, list), &e[1]);
	EXPECT_EQ(list_next_entry(&e[2], list), &e[0]);

	list_del(&e[0].list);
	EXPECT_EQ(e[0].list.next, nullptr);
	EXPECT_EQ(e[0].list.prev, nullptr);
	list_move_tail(&e[2].list, &h);
	EXPECT_EQ(values(&h), (std::vector<int>{ 1, 2 }));
	list_del_init(&e[1].list);
	EXPECT_TRUE(list_empty(&e[1].list));

	LIST_HEAD(other);
	list_add_tail(&e[3].list, &other);
	list_add_tail(&e[4].list, &other);
	list_splice_init(&other, &h);
	EXPECT_TRUE(list_empty(&other));
	EXPECT_EQ(values(&h), (std::vector<int>{ 3, 4, 2 }));
	list_add_tail(&e[1].list, &other);
	list_splice_tail_init(&other, &h);
	EXPECT_EQ(values(&h), (std::vector<int>{ 3, 4, 2, 1 }));

	Entry *p, *n;
	std::vector<int> rev;
	list_for_each_entry_reverse(p, &h, list)
		rev.push_back(p->v);
	EXPECT_EQ(rev, (std::vector<int>{ 1, 2, 4, 3 }));
	list_for_each_entry_safe(p, n, &h, list)
		if (p->v % 2 == 0)
			list_del(&p->list);
	EXPECT_EQ(values(&h), (std::vector<int>{ 3, 1 }));
	EXPECT_EQ(container_of_safe((struct list_head *) NULL, Entry, list), nullptr);
	EXPECT_EQ(container_of(&e[3].list, Entry, list), &e[3]);
}

TEST(Utils, CallocAOneZeroedBlock)
{
	char *name, *extra;
	uint64_t *base = (uint64_t *) calloc_a(sizeof(uint64_t) * 3, &name, (size_t) 5, &extra, (size_t) 17);
	ASSERT_NE(base, nullptr);
	EXPECT_EQ((char *) name, (char *) base + 24);
	EXPECT_EQ((char *) extra, (char *) base + 24 + 8); // 5 rounds to 8
	for (int i = 0; i < 24 + 8 + 17; i++)
		EXPECT_EQ(((char *) base)[i], 0);
	strcpy(extra, "sixteen chars!!!");
	free(base);
}

TEST(Utils, ByteOrderAndMacros)
{
	EXPECT_EQ(cpu_to_be32(0x01020304u), 0x04030201u);
	EXPECT_EQ(be16_to_cpu(cpu_to_be16(0x1234)), 0x1234);
	EXPECT_EQ(cpu_to_be64(0x0102030405060708ULL), 0x0807060504030201ULL);
	EXPECT_EQ(cpu_to_le32(0x01020304u), 0x01020304u);
	static_assert(const_cpu_to_be32(0x11223344u) == 0x44332211u, "constant form");
	int arr[7];
	EXPECT_EQ(ARRAY_SIZE(arr), 7u);
	BUILD_BUG_ON(sizeof(int) < 2);
	// compiled as C: READ|BLOCKING is 9, event mask 3, TYPE_LAST 8, UNIX flag
	EXPECT_EQ(c_flag_values(), 9000 + 300 + 80 + 1);
}
