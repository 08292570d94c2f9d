/* In-memory packages, sections and options; nothing here records changes. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

bool sb_reserve(struct sbuf *b, size_t extra)
{
	if (b->fail)
		return false;
	if (b->len + extra < b->cap)
		return true;
	size_t cap = b->cap ? b->cap : 256;
	while (cap <= b->len + extra)
		cap *= 2;
	char *d = realloc(b->d, cap);
	if (!d) {
		b->fail = true;
		return false;
	}
	b->d = d;
	b->cap = cap;
	return true;
}

void sb_put(struct sbuf *b, const char *s, size_t n)
{
	if (!sb_reserve(b, n))
		return;
	memcpy(b->d + b->len, s, n);
	b->len += n;
	b->d[b->len] = 0;
}

/* 'value' with every ' written as '\'' -- the only escape the reader needs. */
void sb_quoted(struct sbuf *b, const char *s)
{
	sb_putc(b, '\'');
	for (;;) {
		const char *q = strchr(s, '\'');
		if (!q) {
			sb_puts(b, s);
			break;
		}
		sb_put(b, s, (size_t)(q - s));
		sb_put(b, "'\\''", 4);
		s = q + 1;
	}
	sb_putc(b, '\'');
}

void sb_free(struct sbuf *b)
{
	free(b->d);
	b->d = NULL;
	b->len = b->cap = 0;
}

bool uci_name_ok(const char *s)
{
	if (!*s)
		return false;
	for (; *s; s++) {
		unsigned char c = (unsigned char)*s;
		if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
			return false;
	}
	return true;
}

bool uci_type_ok_n(const char *s, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		unsigned char c = (unsigned char)s[i];
		if (c < 0x21 || c > 0x7e)
			return false;
	}
	return true;
}

bool uci_type_ok(const char *s)
{
	return *s && uci_type_ok_n(s, strlen(s));
}

bool uci_pkgname_ok(const char *s)
{
	return uci_type_ok(s);
}

struct uci_package *pkg_new(struct uci_context *ctx, const char *name, const char *path)
{
	size_t nl = strlen(name) + 1, pl = path ? strlen(path) + 1 : 0;
	struct uci_package *p = malloc(sizeof(*p) + nl + pl);
	if (!p)
		return NULL;
	memset(p, 0, sizeof(*p));
	ul_init(&p->e.list);
	p->e.type = UCI_TYPE_PACKAGE;
	p->e.name = (char *)(p + 1);
	memcpy(p->e.name, name, nl);
	if (path) {
		p->path = p->e.name + nl;
		memcpy(p->path, path, pl);
	}
	ul_init(&p->sections);
	ul_init(&p->delta);
	ul_init(&p->saved_delta);
	p->ctx = ctx;
	p->priv = index_new();
	if (!p->priv) {
		free(p);
		return NULL;
	}
	return p;
}

void pkg_free(struct uci_package *p)
{
	struct tree_index *x = p->priv;
	p->priv = NULL;
	struct uci_list *l = p->sections.next;
	while (l != &p->sections) {
		struct uci_list *next = l->next;
		sec_free((struct uci_section *)l);
		l = next;
	}
	delta_free_list(&p->delta);
	delta_free_list(&p->saved_delta);
	ul_del(&p->e.list);
	index_free(x);
	free(p);
}

struct uci_section *sec_find(struct uci_package *p, const char *name)
{
	return index_find_section(p, name);
}

static uint32_t type_hash(const char *t)
{
	uint32_t h = 5381;
	for (; *t; t++)
		h = h * 33 + (unsigned char)*t;
	return h & 0x7fffffff;
}

static char *hexn(char *o, unsigned long v, int min)
{
	char tmp[2 * sizeof(v)];
	int n = 0;
	do {
		tmp[n++] = "0123456789abcdef"[v & 15];
		v >>= 4;
	} while (v);
	while (n < min)
		tmp[n++] = '0';
	while (n)
		*o++ = tmp[--n];
	return o;
}

/* The name a load gives the Nth section of the file when it has none. */
static void anon_name(char *gen, int n, const char *type)
{
	char *o = gen;
	memcpy(o, "cfg", 3);
	o = hexn(o + 3, (unsigned long)(unsigned int)n, 2);
	o = hexn(o, type_hash(type) & 0xffff, 4);
	*o = 0;
}

struct uci_section *sec_new(struct uci_package *p, const char *type, const char *name, bool anonymous)
{
	char gen[32];
	p->n_section++;
	if (!name) {
		anon_name(gen, p->n_section, type);
		name = gen;
		anonymous = true;
	}
	size_t tl = strlen(type) + 1, nl = strlen(name) + 1;
	struct usec *u = malloc(sizeof(*u) + tl + nl);
	if (!u)
		return NULL;
	struct uci_section *s = &u->s;
	memset(u, 0, sizeof(*u));
	s->e.type = UCI_TYPE_SECTION;
	s->type = u->data;
	memcpy(s->type, type, tl);
	s->e.name = u->data + tl;
	memcpy(s->e.name, name, nl);
	ul_init(&s->options);
	s->package = p;
	s->anonymous = anonymous;
	ul_add_tail(&p->sections, &s->e.list);
	index_add_section(p, u);
	return s;
}

static bool replace_str(char **own, char **field, const char *v)
{
	char *n = strdup(v);
	if (!n)
		return false;
	free(*own);
	*own = n;
	*field = n;
	return true;
}

bool sec_set_type(struct uci_section *s, const char *type)
{
	struct usec *u = (struct usec *)s;
	return replace_str(&u->own_type, &s->type, type);
}

bool sec_rename(struct uci_section *s, const char *name)
{
	struct usec *u = (struct usec *)s;
	index_del_section(s->package, u);
	bool ok = replace_str(&u->own_name, &s->e.name, name);
	index_add_section(s->package, u);
	if (ok)
		s->anonymous = false;
	return ok;
}

/*
 * After a commit the package holds what a load of the written file gives:
 * anonymous sections take the names the file gives them, and lists the
 * replayed changes emptied go, as the file has no line for them. Changes
 * made afterwards otherwise name sections or options the next replay does
 * not find, and are lost.
 */
bool pkg_as_written(struct uci_package *p)
{
	struct uci_element *e, *oe, *tmp;
	char gen[32];
	int n = 0;

	uci_foreach_element(&p->sections, e) {
		struct uci_section *s = uci_to_section(e);

		n++;
		uci_foreach_element_safe(&s->options, tmp, oe) {
			struct uci_option *o = uci_to_option(oe);

			if (o->type == UCI_TYPE_LIST && uci_list_empty(&o->v.list))
				opt_free(o);
		}
		if (!s->anonymous)
			continue;
		anon_name(gen, n, s->type);
		if (strcmp(gen, s->e.name) && !sec_rename(s, gen))
			return false;
		s->anonymous = true;
	}
	p->n_section = n;
	return true;
}

void sec_free(struct uci_section *s)
{
	struct usec *u = (struct usec *)s;
	struct uci_list *l = s->options.next;
	while (l != &s->options) {
		struct uci_list *next = l->next;
		opt_free((struct uci_option *)l);
		l = next;
	}
	index_del_section(s->package, u);
	ul_del(&s->e.list);
	free(u->own_name);
	free(u->own_type);
	free(u);
}

struct uci_option *opt_find(struct uci_section *s, const char *name)
{
	return index_find_option(s, name);
}

static struct uci_option *opt_new(struct uci_section *s, const char *name, const char *value)
{
	size_t nl = strlen(name) + 1, vl = value ? strlen(value) + 1 : 0;
	struct uopt *u = malloc(sizeof(*u) + nl + vl);
	if (!u)
		return NULL;
	memset(u, 0, sizeof(*u));
	struct uci_option *o = &u->o;
	o->e.type = UCI_TYPE_OPTION;
	o->e.name = u->data;
	memcpy(o->e.name, name, nl);
	o->section = s;
	if (value) {
		o->type = UCI_TYPE_STRING;
		o->v.string = u->data + nl;
		memcpy(o->v.string, value, vl);
	} else {
		o->type = UCI_TYPE_LIST;
		ul_init(&o->v.list);
	}
	ul_add_tail(&s->options, &o->e.list);
	index_add_option(s, u);
	return o;
}

/* A plain element (a list item, a delta path) with its name in the same
 * allocation. */
struct uci_element *elem_new(enum uci_type type, const char *name)
{
	size_t l = strlen(name) + 1;
	struct uci_element *e = malloc(sizeof(*e) + l);
	if (!e)
		return NULL;
	e->type = type;
	e->name = memcpy(e + 1, name, l);
	ul_init(&e->list);
	return e;
}

static struct uci_element *item_new(const char *value)
{
	return elem_new(UCI_TYPE_ITEM, value);
}

void elem_free_list(struct uci_list *head)
{
	struct uci_list *l = head->next;
	while (l != head) {
		struct uci_list *next = l->next;
		free(l);
		l = next;
	}
	ul_init(head);
}

/* Sets a string value; an existing option keeps its place in the section. */
struct uci_option *opt_set(struct uci_section *s, struct uci_option *o, const char *name, const char *value)
{
	if (!o)
		return opt_new(s, name, value);
	struct uopt *u = (struct uopt *)o;
	if (o->type == UCI_TYPE_STRING && !strcmp(o->v.string, value))
		return o;
	char *n = strdup(value);
	if (!n)
		return NULL;
	if (o->type == UCI_TYPE_LIST)
		elem_free_list(&o->v.list);
	free(u->own_value);
	u->own_value = n;
	o->type = UCI_TYPE_STRING;
	o->v.string = n;
	return o;
}

struct uci_option *opt_add_item(struct uci_section *s, struct uci_option *o, const char *name, const char *value)
{
	struct uci_element *it = item_new(value);
	if (!it)
		return NULL;
	if (!o) {
		o = opt_new(s, name, NULL);
		if (!o) {
			free(it);
			return NULL;
		}
	} else if (o->type == UCI_TYPE_STRING) {
		struct uci_element *first = item_new(o->v.string);
		if (!first) {
			free(it);
			return NULL;
		}
		struct uopt *u = (struct uopt *)o;
		free(u->own_value);
		u->own_value = NULL;
		o->type = UCI_TYPE_LIST;
		ul_init(&o->v.list);
		ul_add_tail(&o->v.list, &first->list);
	}
	ul_add_tail(&o->v.list, &it->list);
	return o;
}

bool opt_del_item_at(struct uci_option *o, long n)
{
	long i = 0;
	if (n < 0)
		return false;
	for (struct uci_list *l = o->v.list.next; l != &o->v.list; l = l->next, i++) {
		if (i == n) {
			ul_del(l);
			free(l);
			return true;
		}
	}
	return false;
}

void opt_del_items(struct uci_option *o, const char *value)
{
	struct uci_list *l = o->v.list.next;
	while (l != &o->v.list) {
		struct uci_list *next = l->next;
		if (!strcmp(list_to_element(l)->name, value)) {
			ul_del(l);
			free(l);
		}
		l = next;
	}
}

bool opt_rename(struct uci_option *o, const char *name)
{
	struct uopt *u = (struct uopt *)o;
	index_del_option(o->section, u);
	bool ok = replace_str(&u->own_name, &o->e.name, name);
	index_add_option(o->section, u);
	return ok;
}

void opt_free(struct uci_option *o)
{
	struct uopt *u = (struct uopt *)o;
	if (o->type == UCI_TYPE_LIST)
		elem_free_list(&o->v.list);
	index_del_option(o->section, u);
	ul_del(&o->e.list);
	free(u->own_name);
	free(u->own_value);
	free(u);
}

int sec_index(struct uci_section *s)
{
	int i = 0;
	for (struct uci_list *l = s->package->sections.next; l != &s->e.list; l = l->next)
		i++;
	return i;
}

void sec_move(struct uci_section *s, int pos)
{
	struct uci_list *head = &s->package->sections;
	ul_del(&s->e.list);
	struct uci_list *l = head->next;
	for (int i = 0; i < pos && l != head; i++)
		l = l->next;
	ul_insert_before(l, &s->e.list);
}
