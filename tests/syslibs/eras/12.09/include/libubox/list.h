/* Test fixture: the early-2013 libubox list header, reduced to what veloxd meets. */
#ifndef FIXTURE_LIBUBOX_LIST_H
#define FIXTURE_LIBUBOX_LIST_H

#include <stddef.h>
#include <stdbool.h>

#ifndef container_of
#define container_of(ptr, type, member)					\
	({								\
		const typeof(((type *) NULL)->member) *__mptr = (ptr);	\
		(type *) ((char *) __mptr - offsetof(type, member));	\
	})
#endif

struct list_head {
	struct list_head *next;
	struct list_head *prev;
};

#define LIST_HEAD_INIT(name) { &(name), &(name) }

static inline void INIT_LIST_HEAD(struct list_head *list)
{
	list->next = list->prev = list;
}

static inline bool list_empty(const struct list_head *head)
{
	return head->next == head;
}

#endif
