// avl: tree shape invariants under random insert/delete, lookups, iteration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <libubox/avl.h>
#include <libubox/avl-cmp.h>
#include <libubox/blob.h>

namespace {

struct Item {
	int value;
	int seq;
	struct avl_node node;
};

int cmp_int(const void *k1, const void *k2, void *ptr)
{
	int a = *(const int *) k1, b = *(const int *) k2;
	++*(int *) ptr;
	return a < b ? -1 : a > b;
}

// Returns the height; checks parent links, balance factors and ordering.
int check_subtree(const struct avl_tree *t, struct avl_node *n, struct avl_node *parent)
{
	if (!n)
		return 0;
	EXPECT_EQ(n->parent, parent);
	int hl = check_subtree(t, n->left, n);
	int hr = check_subtree(t, n->right, n);
	EXPECT_EQ(n->balance, hr - hl);
	EXPECT_LE(std::abs(hr - hl), 1);
	if (n->left) {
		EXPECT_LE(t->comp(n->left->key, n->key, t->cmp_ptr), 0);
	}
	if (n->right) {
		EXPECT_GE(t->comp(n->right->key, n->key, t->cmp_ptr), 0);
	}
	return 1 + std::max(hl, hr);
}

void check_tree(struct avl_tree *t, const std::vector<int> &expect_sorted)
{
	check_subtree(t, t->root, nullptr);
	EXPECT_EQ(t->count, expect_sorted.size());
	std::vector<int> seen;
	Item *it;
	avl_for_each_element(t, it, node)
		seen.push_back(it->value);
	EXPECT_EQ(seen, expect_sorted);
	// in-order walk of the tree agrees with the list
	std::vector<int> walk;
	std::vector<struct avl_node *> stack;
	struct avl_node *n = t->root;
	while (n || !stack.empty()) {
		while (n) {
			stack.push_back(n);
			n = n->left;
		}
		n = stack.back();
		stack.pop_back();
		walk.push_back(*(const int *) n->key);
		n = n->right;
	}
	EXPECT_EQ(walk, expect_sorted);
}

} // namespace

TEST(Avl, LayoutMatches)
{
	EXPECT_EQ(sizeof(struct avl_node), 56u);
	EXPECT_EQ(offsetof(struct avl_node, parent), 16u);
	EXPECT_EQ(offsetof(struct avl_node, key), 40u);
	EXPECT_EQ(offsetof(struct avl_node, balance), 48u);
	EXPECT_EQ(offsetof(struct avl_node, leader), 49u);
	EXPECT_EQ(sizeof(struct avl_tree), 48u);
	EXPECT_EQ(offsetof(struct avl_tree, root), 16u);
	EXPECT_EQ(offsetof(struct avl_tree, count), 24u);
	EXPECT_EQ(offsetof(struct avl_tree, allow_dups), 28u);
	EXPECT_EQ(offsetof(struct avl_tree, comp), 32u);
	EXPECT_EQ(offsetof(struct avl_tree, cmp_ptr), 40u);
}

TEST(Avl, RandomInsertDeleteKeepsInvariants)
{
	int calls = 0;
	struct avl_tree t;
	avl_init(&t, cmp_int, false, &calls);
	EXPECT_TRUE(avl_is_empty(&t));

	std::mt19937 rng(12345);
	std::vector<Item> items(600);
	std::vector<int> present;
	for (size_t i = 0; i < items.size(); i++) {
		items[i].value = (int) (rng() % 1000);
		items[i].node.key = &items[i].value;
		int r = avl_insert(&t, &items[i].node);
		bool dup = std::find(present.begin(), present.end(), items[i].value) != present.end();
		EXPECT_EQ(r, dup ? -1 : 0);
		if (!dup)
			present.push_back(items[i].value);
		if (i % 50 == 0) {
			std::sort(present.begin(), present.end());
			check_tree(&t, present);
		}
	}
	std::sort(present.begin(), present.end());
	check_tree(&t, present);
	EXPECT_GT(calls, 0);

	// delete in random order, checking along the way
	std::vector<Item *> in_tree;
	for (auto &it : items)
		if (avl_find(&t, &it.value) == &it.node)
			in_tree.push_back(&it);
	EXPECT_EQ(in_tree.size(), present.size());
	std::shuffle(in_tree.begin(), in_tree.end(), rng);
	for (size_t i = 0; i < in_tree.size(); i++) {
		avl_delete(&t, &in_tree[i]->node);
		present.erase(std::find(present.begin(), present.end(), in_tree[i]->value));
		EXPECT_EQ(avl_find(&t, &in_tree[i]->value), nullptr);
		if (i % 37 == 0)
			check_tree(&t, present);
	}
	check_tree(&t, present);
	EXPECT_EQ(t.root, nullptr);
	EXPECT_TRUE(avl_is_empty(&t));
}

TEST(Avl, DuplicatesKeepInsertionOrderAndRangesCoverThem)
{
	int calls = 0;
	struct avl_tree t;
	avl_init(&t, cmp_int, true, &calls);
	std::vector<Item> items(9);
	int values[] = { 5, 3, 5, 8, 5, 1, 3, 9, 5 };
	for (size_t i = 0; i < items.size(); i++) {
		items[i].value = values[i];
		items[i].seq = (int) i;
		items[i].node.key = &items[i].value;
		ASSERT_EQ(avl_insert(&t, &items[i].node), 0);
	}
	check_tree(&t, { 1, 3, 3, 5, 5, 5, 5, 8, 9 });

	Item *it, *e = nullptr;
	std::vector<int> fives;
	int five = 5;
	Item *first = avl_find_ge_element(&t, &five, e, node);
	Item *last = avl_find_le_element(&t, &five, e, node);
	ASSERT_NE(first, nullptr);
	ASSERT_NE(last, nullptr);
	avl_for_element_range(first, last, it, node)
		fives.push_back(it->seq);
	EXPECT_EQ(fives, (std::vector<int>{ 0, 2, 4, 8 }));
	EXPECT_EQ(avl_find_element(&t, &five, e, node), &items[0]);
	EXPECT_TRUE(items[0].node.leader);
	EXPECT_FALSE(items[2].node.leader);

	// the leader goes, the next equal one leads
	avl_delete(&t, &items[0].node);
	EXPECT_EQ(avl_find_element(&t, &five, e, node), &items[2]);
	EXPECT_TRUE(items[2].node.leader);
	check_tree(&t, { 1, 3, 3, 5, 5, 5, 8, 9 });

	int four = 4, ten = 10, zero = 0;
	EXPECT_EQ(avl_find_element(&t, &four, e, node), nullptr);
	EXPECT_EQ(avl_find_ge_element(&t, &four, e, node), &items[2]);
	EXPECT_EQ(avl_find_le_element(&t, &four, e, node), &items[6]);
	EXPECT_EQ(avl_find_ge_element(&t, &ten, e, node), nullptr);
	EXPECT_EQ(avl_find_le_element(&t, &zero, e, node), nullptr);
	EXPECT_EQ(avl_first_element(&t, e, node), &items[5]);
	EXPECT_EQ(avl_last_element(&t, e, node), &items[7]);
	EXPECT_TRUE(avl_is_first(&t, &items[5].node));
	EXPECT_TRUE(avl_is_last(&t, &items[7].node));
	EXPECT_EQ(avl_next_element(&items[5], node), &items[1]);
	EXPECT_EQ(avl_prev_element(&items[1], node), &items[5]);

	std::vector<int> rev;
	avl_for_each_element_reverse(&t, it, node)
		rev.push_back(it->value);
	EXPECT_EQ(rev, (std::vector<int>{ 9, 8, 5, 5, 5, 3, 3, 1 }));
}

TEST(Avl, SafeIterationAndRemoveAll)
{
	int calls = 0;
	struct avl_tree t;
	avl_init(&t, cmp_int, false, &calls);
	std::vector<Item> items(20);
	for (int i = 0; i < 20; i++) {
		items[i].value = i;
		items[i].node.key = &items[i].value;
		avl_insert(&t, &items[i].node);
	}
	Item *it, *tmp;
	avl_for_each_element_safe(&t, it, node, tmp) {
		if (it->value % 2)
			avl_delete(&t, &it->node);
	}
	check_tree(&t, { 0, 2, 4, 6, 8, 10, 12, 14, 16, 18 });

	int n = 0;
	avl_remove_all_elements(&t, it, node, tmp)
		n++;
	EXPECT_EQ(n, 10);
	EXPECT_TRUE(avl_is_empty(&t));
	EXPECT_EQ(t.root, nullptr);
	EXPECT_TRUE(list_empty(&t.list_head));

	// empty trees iterate zero times
	n = 0;
	avl_for_each_element(&t, it, node)
		n++;
	EXPECT_EQ(n, 0);
}

TEST(Avl, StaticInitAndStockComparators)
{
	static AVL_TREE(names, avl_strcmp, false, NULL);
	struct Named {
		std::string s;
		struct avl_node node;
	} a{ "beta", {} }, b{ "alpha", {} }, c{ "gamma", {} };
	for (Named *n : { &a, &b, &c }) {
		n->node.key = n->s.c_str();
		ASSERT_EQ(avl_insert(&names, &n->node), 0);
	}
	Named dup{ "beta", {} };
	dup.node.key = dup.s.c_str();
	EXPECT_EQ(avl_insert(&names, &dup.node), -1);
	Named *e = nullptr;
	EXPECT_EQ(avl_find_element(&names, "gamma", e, node), &c);
	EXPECT_EQ(avl_first_element(&names, e, node), &b);

	uint8_t x[8] = { 0x01, 0, 0, 0x05, 'a', 0, 0, 0 };
	uint8_t y[8] = { 0x01, 0, 0, 0x05, 'b', 0, 0, 0 };
	uint8_t z[4] = { 0x01, 0, 0, 0x04 };
	EXPECT_LT(avl_blobcmp(x, y, NULL), 0);
	EXPECT_EQ(avl_blobcmp(x, x, NULL), 0);
	EXPECT_NE(avl_blobcmp(x, z, NULL), 0);
}
