/*
 * avl.h - balanced binary tree whose nodes are also kept on a sorted list
 */
#ifndef _AVL_H
#define _AVL_H

#include <stddef.h>
#include <stdbool.h>

#include "list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every node sits on the tree's sorted list; iteration walks that list. */
struct avl_node {
	/* must stay the first member */
	struct list_head list;
	struct avl_node *parent;
	struct avl_node *left;
	struct avl_node *right;
	const void *key;
	signed char balance;
	/* first node of a run of equal keys (the one linked into the tree) */
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

enum avl_find_mode {
	AVL_FIND_EQUAL,
	AVL_FIND_LESSEQUAL,
	AVL_FIND_GREATEREQUAL
};

#define AVL_TREE_INIT(_name, _comp, _allow_dups, _cmp_ptr) \
	{ \
		{ &(_name).list_head, &(_name).list_head }, \
		NULL, 0, (_allow_dups), (_comp), (_cmp_ptr) \
	}

#define AVL_TREE(_name, _comp, _allow_dups, _cmp_ptr) \
	struct avl_tree _name = AVL_TREE_INIT(_name, _comp, _allow_dups, _cmp_ptr)

void avl_init(struct avl_tree *, avl_tree_comp, bool, void *);
struct avl_node *avl_find(const struct avl_tree *, const void *);
struct avl_node *avl_find_greaterequal(const struct avl_tree *tree, const void *key);
struct avl_node *avl_find_lessequal(const struct avl_tree *tree, const void *key);
int avl_insert(struct avl_tree *, struct avl_node *);
void avl_delete(struct avl_tree *, struct avl_node *);

static inline bool
avl_is_first(struct avl_tree *tree, struct avl_node *node)
{
	return tree->list_head.next == &node->list;
}

static inline bool
avl_is_last(struct avl_tree *tree, struct avl_node *node)
{
	return tree->list_head.prev == &node->list;
}

static inline bool
avl_is_empty(struct avl_tree *tree)
{
	return tree->count == 0;
}

static inline void *
__avl_find_element(const struct avl_tree *tree, const void *key, size_t offset, enum avl_find_mode mode)
{
	struct avl_node *node;

	switch (mode) {
	case AVL_FIND_EQUAL:
		node = avl_find(tree, key);
		break;
	case AVL_FIND_LESSEQUAL:
		node = avl_find_lessequal(tree, key);
		break;
	case AVL_FIND_GREATEREQUAL:
		node = avl_find_greaterequal(tree, key);
		break;
	default:
		node = NULL;
		break;
	}
	return node == NULL ? NULL : (void *) (((char *) node) - offset);
}

#define avl_find_element(tree, key, element, node_element) \
	((__typeof__(*(element)) *) __avl_find_element(tree, key, \
		offsetof(__typeof__(*(element)), node_element), AVL_FIND_EQUAL))

#define avl_find_le_element(tree, key, element, node_element) \
	((__typeof__(*(element)) *) __avl_find_element(tree, key, \
		offsetof(__typeof__(*(element)), node_element), AVL_FIND_LESSEQUAL))

#define avl_find_ge_element(tree, key, element, node_element) \
	((__typeof__(*(element)) *) __avl_find_element(tree, key, \
		offsetof(__typeof__(*(element)), node_element), AVL_FIND_GREATEREQUAL))

#define avl_first_element(tree, element, node_member) \
	container_of((tree)->list_head.next, __typeof__(*(element)), node_member.list)

#define avl_last_element(tree, element, node_member) \
	container_of((tree)->list_head.prev, __typeof__(*(element)), node_member.list)

#define avl_next_element(element, node_member) \
	container_of((&(element)->node_member.list)->next, __typeof__(*(element)), node_member.list)

#define avl_prev_element(element, node_member) \
	container_of((&(element)->node_member.list)->prev, __typeof__(*(element)), node_member.list)

/* first..last inclusive; both must be elements of the same tree */
#define avl_for_element_range(first, last, element, node_member) \
	for (element = (first); \
	     element->node_member.list.prev != &(last)->node_member.list; \
	     element = avl_next_element(element, node_member))

#define avl_for_element_range_reverse(first, last, element, node_member) \
	for (element = (last); \
	     element->node_member.list.next != &(first)->node_member.list; \
	     element = avl_prev_element(element, node_member))

#define avl_for_each_element(tree, element, node_member) \
	avl_for_element_range(avl_first_element(tree, element, node_member), \
			      avl_last_element(tree, element, node_member), \
			      element, node_member)

#define avl_for_each_element_reverse(tree, element, node_member) \
	avl_for_element_range_reverse(avl_first_element(tree, element, node_member), \
				      avl_last_element(tree, element, node_member), \
				      element, node_member)

#define avl_for_element_range_safe(first_element, last_element, element, node_member, ptr) \
	for (element = (first_element), ptr = avl_next_element(first_element, node_member); \
	     element->node_member.list.prev != &(last_element)->node_member.list; \
	     element = ptr, ptr = avl_next_element(ptr, node_member))

#define avl_for_element_range_reverse_safe(first_element, last_element, element, node_member, ptr) \
	for (element = (last_element), ptr = avl_prev_element(last_element, node_member); \
	     element->node_member.list.next != &(first_element)->node_member.list; \
	     element = ptr, ptr = avl_prev_element(ptr, node_member))

#define avl_for_each_element_safe(tree, element, node_member, ptr) \
	avl_for_element_range_safe(avl_first_element(tree, element, node_member), \
				   avl_last_element(tree, element, node_member), \
				   element, node_member, ptr)

#define avl_for_each_element_reverse_safe(tree, element, node_member, ptr) \
	avl_for_element_range_reverse_safe(avl_first_element(tree, element, node_member), \
					   avl_last_element(tree, element, node_member), \
					   element, node_member, ptr)

/*
 * Empties the tree without rebalancing; the loop body sees each element once
 * and may free it. The tree is valid (and empty) afterwards.
 */
#define avl_remove_all_elements(tree, element, node_member, ptr) \
	for (element = avl_first_element(tree, element, node_member), \
	     ptr = avl_next_element(element, node_member), \
	     INIT_LIST_HEAD(&(tree)->list_head), \
	     (tree)->root = NULL; \
	     (tree)->count > 0; \
	     element = ptr, ptr = avl_next_element(ptr, node_member), (tree)->count--)

#ifdef __cplusplus
}
#endif

#endif /* _AVL_H */
