/* Name index of a package: sections by name, options by (section, name).
 * Without it every statement of a file searched the whole package, which
 * made loading quadratic in the number of sections. The lists stay the
 * authority on order; the index only finds. */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

#define INDEX_MIN 8
/* Options of a section this small are found faster by walking its list;
 * a section's options enter the index when it grows past this. */
#define SMALL_SECTION 16

/* One table of the index: chains of entries, a power of two of them. */
struct table {
	struct hlink **slot;
	size_t mask, n;
};

struct tree_index {
	struct table sec, opt;
};

/* The section or option whose index entry l is. */
#define entry_of(l, type) ((type *)(void *)((char *)(l) - offsetof(type, h)))

/* FNV-1a and a final mix: multiplication only carries bits upwards, and
 * the table is indexed by the low bits. */
static uint32_t name_hash(uint32_t h, const char *s)
{
	for (; *s; s++)
		h = (h ^ (unsigned char)*s) * 16777619u;
	h ^= h >> 16;
	h *= 0x85ebca6bu;
	h ^= h >> 13;
	h *= 0xc2b2ae35u;
	return h ^ (h >> 16);
}

static uint32_t sec_hash(const char *name)
{
	return name_hash(2166136261u, name);
}

static uint32_t opt_hash(const struct uci_section *s, const char *name)
{
	uintptr_t v = (uintptr_t)s;
	return name_hash(2166136261u ^ (uint32_t)((v >> 4) ^ (v >> 32)), name);
}

struct tree_index *index_new(void)
{
	struct tree_index *x = calloc(1, sizeof(*x));
	if (!x)
		return NULL;
	x->sec.slot = calloc(INDEX_MIN, sizeof(*x->sec.slot));
	x->opt.slot = calloc(INDEX_MIN, sizeof(*x->opt.slot));
	if (!x->sec.slot || !x->opt.slot) {
		index_free(x);
		return NULL;
	}
	x->sec.mask = x->opt.mask = INDEX_MIN - 1;
	return x;
}

void index_free(struct tree_index *x)
{
	if (!x)
		return;
	free(x->sec.slot);
	free(x->opt.slot);
	free(x);
}

static struct tree_index *index_of(struct uci_package *p)
{
	return p->priv;
}

/* Doubling keeps chains short; when memory is short the table stays as it
 * is and lookups just walk longer chains. */
static void table_grow(struct table *t)
{
	size_t n = (t->mask + 1) * 2;
	struct hlink **slot = calloc(n, sizeof(*slot));
	if (!slot)
		return;
	for (size_t i = 0; i <= t->mask; i++) {
		for (struct hlink *h = t->slot[i], *next; h; h = next) {
			next = h->next;
			h->next = slot[h->hash & (n - 1)];
			slot[h->hash & (n - 1)] = h;
		}
	}
	free(t->slot);
	t->slot = slot;
	t->mask = n - 1;
}

static void table_add(struct table *t, struct hlink *h, uint32_t hash)
{
	if (t->n > t->mask)
		table_grow(t);
	h->hash = hash;
	struct hlink **b = &t->slot[hash & t->mask];
	h->next = *b;
	*b = h;
	t->n++;
}

static void table_del(struct table *t, struct hlink *h)
{
	for (struct hlink **pp = &t->slot[h->hash & t->mask]; *pp; pp = &(*pp)->next) {
		if (*pp == h) {
			*pp = h->next;
			t->n--;
			return;
		}
	}
}

void index_add_section(struct uci_package *p, struct usec *u)
{
	table_add(&index_of(p)->sec, &u->h, sec_hash(u->s.e.name));
}

/* A package being freed has dropped its index already. */
void index_del_section(struct uci_package *p, struct usec *u)
{
	struct tree_index *x = index_of(p);
	if (x)
		table_del(&x->sec, &u->h);
}

static void hash_option(struct tree_index *x, struct uopt *u)
{
	table_add(&x->opt, &u->h, opt_hash(u->o.section, u->o.e.name));
	u->indexed = true;
}

/* Called with u already on the section's list. */
void index_add_option(struct uci_section *s, struct uopt *u)
{
	struct usec *us = (struct usec *)s;
	struct tree_index *x = index_of(s->package);
	if (++us->nopt <= SMALL_SECTION)
		return;
	if (us->big) {
		hash_option(x, u);
		return;
	}
	us->big = true;
	for (struct uci_list *l = s->options.next; l != &s->options; l = l->next)
		hash_option(x, (struct uopt *)l);
}

void index_del_option(struct uci_section *s, struct uopt *u)
{
	struct usec *us = (struct usec *)s;
	struct tree_index *x = index_of(s->package);
	us->nopt--;
	if (!x || !u->indexed)
		return;
	u->indexed = false;
	table_del(&x->opt, &u->h);
}

static struct uci_element *first_named(struct uci_list *head, const char *name)
{
	for (struct uci_list *l = head->next; l != head; l = l->next)
		if (!strcmp(list_to_element(l)->name, name))
			return list_to_element(l);
	return NULL;
}

/* A name held twice (a rename onto a name in use) resolves to the first
 * in list order, as a plain search would. */
struct uci_section *index_find_section(struct uci_package *p, const char *name)
{
	struct tree_index *x = index_of(p);
	uint32_t h = sec_hash(name);
	struct usec *hit = NULL;
	for (struct hlink *l = x->sec.slot[h & x->sec.mask]; l; l = l->next) {
		struct usec *u = entry_of(l, struct usec);
		if (l->hash != h || strcmp(u->s.e.name, name))
			continue;
		if (hit)
			return uci_to_section(first_named(&p->sections, name));
		hit = u;
	}
	return hit ? &hit->s : NULL;
}

struct uci_option *index_find_option(struct uci_section *s, const char *name)
{
	if (!((struct usec *)s)->big) {
		struct uci_element *e = first_named(&s->options, name);
		return e ? uci_to_option(e) : NULL;
	}
	struct tree_index *x = index_of(s->package);
	uint32_t h = opt_hash(s, name);
	struct uopt *hit = NULL;
	for (struct hlink *l = x->opt.slot[h & x->opt.mask]; l; l = l->next) {
		struct uopt *u = entry_of(l, struct uopt);
		if (l->hash != h || u->o.section != s || strcmp(u->o.e.name, name))
			continue;
		if (hit)
			return uci_to_option(first_named(&s->options, name));
		hit = u;
	}
	return hit ? &hit->o : NULL;
}
