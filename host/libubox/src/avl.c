/*
 * avl.c - AVL tree with parent links; nodes are also kept on a sorted list.
 *
 * Equal keys (allow_dups) are stored after the existing ones, so the list
 * keeps insertion order within a run of equal keys. balance is the height of
 * the right subtree minus the height of the left one.
 */
#include "libubox/avl.h"

void
avl_init(struct avl_tree *tree, avl_tree_comp comp, bool allow_dups, void *ptr)
{
	INIT_LIST_HEAD(&tree->list_head);
	tree->root = NULL;
	tree->count = 0;
	tree->comp = comp;
	tree->allow_dups = allow_dups;
	tree->cmp_ptr = ptr;
}

static inline int
avl_cmp(const struct avl_tree *tree, const void *k1, const void *k2)
{
	return tree->comp(k1, k2, tree->cmp_ptr);
}

/* first node whose key is >= key */
struct avl_node *
avl_find_greaterequal(const struct avl_tree *tree, const void *key)
{
	struct avl_node *cur = tree->root, *res = NULL;

	while (cur) {
		if (avl_cmp(tree, key, cur->key) <= 0) {
			res = cur;
			cur = cur->left;
		} else {
			cur = cur->right;
		}
	}
	return res;
}

/* last node whose key is <= key */
struct avl_node *
avl_find_lessequal(const struct avl_tree *tree, const void *key)
{
	struct avl_node *cur = tree->root, *res = NULL;

	while (cur) {
		if (avl_cmp(tree, key, cur->key) >= 0) {
			res = cur;
			cur = cur->right;
		} else {
			cur = cur->left;
		}
	}
	return res;
}

/* first node with an equal key */
struct avl_node *
avl_find(const struct avl_tree *tree, const void *key)
{
	struct avl_node *node;

	/* keys are unique: the first equal one met is the one */
	if (!tree->allow_dups) {
		node = tree->root;
		while (node) {
			int c = avl_cmp(tree, key, node->key);

			if (!c)
				return node;
			node = c < 0 ? node->left : node->right;
		}
		return NULL;
	}
	node = avl_find_greaterequal(tree, key);
	if (node && avl_cmp(tree, key, node->key) == 0)
		return node;
	return NULL;
}

static void
avl_replace_child(struct avl_tree *tree, struct avl_node *parent,
		  struct avl_node *old, struct avl_node *node)
{
	if (!parent)
		tree->root = node;
	else if (parent->left == old)
		parent->left = node;
	else
		parent->right = node;
}

static inline int avl_max(int a, int b) { return a > b ? a : b; }
static inline int avl_min(int a, int b) { return a < b ? a : b; }

static struct avl_node *
avl_rotate_left(struct avl_tree *tree, struct avl_node *x)
{
	struct avl_node *y = x->right;

	x->right = y->left;
	if (y->left)
		y->left->parent = x;
	y->parent = x->parent;
	avl_replace_child(tree, x->parent, x, y);
	y->left = x;
	x->parent = y;

	x->balance = x->balance - 1 - avl_max(y->balance, 0);
	y->balance = y->balance - 1 + avl_min(x->balance, 0);
	return y;
}

static struct avl_node *
avl_rotate_right(struct avl_tree *tree, struct avl_node *x)
{
	struct avl_node *y = x->left;

	x->left = y->right;
	if (y->right)
		y->right->parent = x;
	y->parent = x->parent;
	avl_replace_child(tree, x->parent, x, y);
	y->right = x;
	x->parent = y;

	x->balance = x->balance + 1 - avl_min(y->balance, 0);
	y->balance = y->balance + 1 + avl_max(x->balance, 0);
	return y;
}

/* Restores balance at a node whose balance reached +-2; returns the subtree's new root. */
static struct avl_node *
avl_fix(struct avl_tree *tree, struct avl_node *node)
{
	if (node->balance > 1) {
		if (node->right->balance < 0)
			avl_rotate_right(tree, node->right);
		return avl_rotate_left(tree, node);
	}

	if (node->left->balance > 0)
		avl_rotate_left(tree, node->left);
	return avl_rotate_right(tree, node);
}

static void
avl_update_leader(struct avl_tree *tree, struct avl_node *node)
{
	struct avl_node *prev;

	if (node->list.prev == &tree->list_head) {
		node->leader = true;
		return;
	}
	prev = container_of(node->list.prev, struct avl_node, list);
	node->leader = avl_cmp(tree, prev->key, node->key) != 0;
}

int
avl_insert(struct avl_tree *tree, struct avl_node *new_node)
{
	struct avl_node *cur = tree->root, *parent = NULL;
	int diff = 0;

	new_node->parent = new_node->left = new_node->right = NULL;
	new_node->balance = 0;
	new_node->leader = true;

	while (cur) {
		diff = avl_cmp(tree, new_node->key, cur->key);
		if (diff == 0 && !tree->allow_dups)
			return -1;
		parent = cur;
		cur = diff < 0 ? cur->left : cur->right;
	}

	new_node->parent = parent;
	if (!parent) {
		tree->root = new_node;
		list_add(&new_node->list, &tree->list_head);
	} else if (diff < 0) {
		parent->left = new_node;
		/* in-order successor of a new left leaf is its parent */
		list_add_tail(&new_node->list, &parent->list);
	} else {
		parent->right = new_node;
		list_add(&new_node->list, &parent->list);
	}
	tree->count++;
	avl_update_leader(tree, new_node);

	/* retrace: stop once a subtree's height is unchanged */
	cur = new_node;
	while (parent) {
		if (cur == parent->left)
			parent->balance--;
		else
			parent->balance++;

		if (parent->balance == 0)
			break;
		if (parent->balance == 1 || parent->balance == -1) {
			cur = parent;
			parent = parent->parent;
			continue;
		}
		avl_fix(tree, parent);
		break;
	}

	return 0;
}

void
avl_delete(struct avl_tree *tree, struct avl_node *node)
{
	struct avl_node *p, *next_node = NULL;
	bool left_shrank;

	if (node->list.next != &tree->list_head)
		next_node = container_of(node->list.next, struct avl_node, list);

	if (node->left && node->right) {
		/* the in-order successor takes the node's place */
		struct avl_node *s = node->right;

		while (s->left)
			s = s->left;

		if (s->parent == node) {
			p = s;
			left_shrank = false;
		} else {
			p = s->parent;
			left_shrank = true;
			p->left = s->right;
			if (s->right)
				s->right->parent = p;
			s->right = node->right;
			node->right->parent = s;
		}
		s->left = node->left;
		node->left->parent = s;
		s->parent = node->parent;
		avl_replace_child(tree, node->parent, node, s);
		s->balance = node->balance;
	} else {
		struct avl_node *child = node->left ? node->left : node->right;

		p = node->parent;
		left_shrank = p && p->left == node;
		avl_replace_child(tree, p, node, child);
		if (child)
			child->parent = p;
	}

	while (p) {
		struct avl_node *up;

		p->balance += left_shrank ? 1 : -1;
		if (p->balance == 1 || p->balance == -1)
			break;
		if (p->balance == 2 || p->balance == -2) {
			p = avl_fix(tree, p);
			if (p->balance != 0)
				break;
		}
		up = p->parent;
		if (up)
			left_shrank = up->left == p;
		p = up;
	}

	list_del(&node->list);
	tree->count--;
	node->parent = node->left = node->right = NULL;
	node->balance = 0;

	if (next_node)
		avl_update_leader(tree, next_node);
}
