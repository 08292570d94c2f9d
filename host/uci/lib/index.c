/* Name index of a package: sections by name, options by (section, name).
 * Without it every statement of a file searched the whole package, which
 * made loading quadratic in the number of sections. The lists stay the
 * authority on order; the index only finds. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

#define INDEX_MIN 8
/* Options of a section this small are found faster by walking its list;
 * a section's options enter the index when it grows past this. */
#define SMALL_SECTION 16

struct tree_index {
	struct usec **sec;
	size_t sec_mask, nsec;
	struct uopt **opt;
	size_t opt_mask, nopt;
};

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
	x->sec = calloc(INDEX_MIN, sizeof(*x->sec));
	x->opt = calloc(INDEX_MIN, sizeof(*x->opt));
	if (!x->sec || !x->opt) {
		index_free(x);
		return NULL;
	}
	x->sec_mask = x->opt_mask = INDEX_MIN - 1;
	return x;
}

void index_free(struct tree_index *x)
{
	if (!x)
		return;
	free(x->sec);
	free(x->opt);
	free(x);
}

static struct tree_index *index_of(struct uci_package *p)
{
	return p->priv;
}

/* Doubling keeps chains short; when memory is short the table stays as it
 * is and lookups just walk longer chains. */
static void grow_sec(struct tree_index *x)
{
	size_t n = (x->sec_mask + 1) * 2;
	struct usec **t = calloc(n, sizeof(*t));
	if (!t)
		return;
	for (size_t i = 0; i <= x->sec_mask; i++) {
		for (struct usec *u = x->sec[i], *next; u; u = next) {
			next = u->hnext;
			u->hnext = t[u->hash & (n - 1)];
			t[u->hash & (n - 1)] = u;
		}
	}
	free(x->sec);
	x->sec = t;
	x->sec_mask = n - 1;
}

static void grow_opt(struct tree_index *x)
{
	size_t n = (x->opt_mask + 1) * 2;
	struct uopt **t = calloc(n, sizeof(*t));
	if (!t)
		return;
	for (size_t i = 0; i <= x->opt_mask; i++) {
		for (struct uopt *u = x->opt[i], *next; u; u = next) {
			next = u->hnext;
			u->hnext = t[u->hash & (n - 1)];
			t[u->hash & (n - 1)] = u;
		}
	}
	free(x->opt);
	x->opt = t;
	x->opt_mask = n - 1;
}

void index_add_section(struct uci_package *p, struct usec *u)
{
	struct tree_index *x = index_of(p);
	if (x->nsec > x->sec_mask)
		grow_sec(x);
	u->hash = sec_hash(u->s.e.name);
	struct usec **b = &x->sec[u->hash & x->sec_mask];
	u->hnext = *b;
	*b = u;
	x->nsec++;
}

/* A package being freed has dropped its index already. */
void index_del_section(struct uci_package *p, struct usec *u)
{
	struct tree_index *x = index_of(p);
	if (!x)
		return;
	for (struct usec **pp = &x->sec[u->hash & x->sec_mask]; *pp; pp = &(*pp)->hnext) {
		if (*pp == u) {
			*pp = u->hnext;
			x->nsec--;
			return;
		}
	}
}

static void hash_option(struct tree_index *x, struct uopt *u)
{
	if (x->nopt > x->opt_mask)
		grow_opt(x);
	u->hash = opt_hash(u->o.section, u->o.e.name);
	struct uopt **b = &x->opt[u->hash & x->opt_mask];
	u->hnext = *b;
	*b = u;
	u->indexed = true;
	x->nopt++;
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
	for (struct uopt **pp = &x->opt[u->hash & x->opt_mask]; *pp; pp = &(*pp)->hnext) {
		if (*pp == u) {
			*pp = u->hnext;
			x->nopt--;
			return;
		}
	}
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
	for (struct usec *u = x->sec[h & x->sec_mask]; u; u = u->hnext) {
		if (u->hash != h || strcmp(u->s.e.name, name))
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
	for (struct uopt *u = x->opt[h & x->opt_mask]; u; u = u->hnext) {
		if (u->hash != h || u->o.section != s || strcmp(u->o.e.name, name))
			continue;
		if (hit)
			return uci_to_option(first_named(&s->options, name));
		hit = u;
	}
	return hit ? &hit->o : NULL;
}
