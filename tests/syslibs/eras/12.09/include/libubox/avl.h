/* Test fixture: the early-2013 libubox AVL tree records. */
#ifndef FIXTURE_LIBUBOX_AVL_H
#define FIXTURE_LIBUBOX_AVL_H

#include <stdbool.h>
#include "list.h"

struct avl_node {
	struct list_head list;
	struct avl_node *parent;
	struct avl_node *left;
	struct avl_node *right;
	const void *key;
	signed char balance;
	bool leader;
};

typedef int (*avl_tree_comp) (const void *k1, const void *k2, void *ptr);

struct avl_tree {
	struct list_head list_head;
	struct avl_node *root;
	unsigned int count;
	bool allow_dups;
	avl_tree_comp comp;
	void *cmp_ptr;
};

#endif
