/* Private declarations shared by the library's translation units. */
#ifndef UCI_INTERNAL_H
#define UCI_INTERNAL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "uci.h"

#define UCI_EXPORT __attribute__((visibility("default")))

/* Where the last parse error happened; kept by the context for the error text. */
struct uci_parse_context {
	const char *reason;
	int line;
	int byte;
};

/* An entry's place in the package's name index: the next entry of its
 * chain and the hash of its key. */
struct hlink {
	struct hlink *next;
	uint32_t hash;
};

/* Sections and options carry their own heap copies of strings that were
 * changed after creation; the originals live in the same allocation. */
struct usec {
	struct uci_section s;
	struct hlink h;
	unsigned int nopt;  /* options, and whether the index holds them */
	bool big;
	char *own_name;
	char *own_type;
	char data[];
};

struct uopt {
	struct uci_option o;
	struct hlink h;
	bool indexed;
	char *own_name;
	char *own_value;
	char data[];
};

/* --- lists --- */
static inline void ul_init(struct uci_list *l)
{
	l->next = l->prev = l;
}

static inline void ul_insert_before(struct uci_list *pos, struct uci_list *n)
{
	n->prev = pos->prev;
	n->next = pos;
	pos->prev->next = n;
	pos->prev = n;
}

static inline void ul_add_tail(struct uci_list *head, struct uci_list *n)
{
	ul_insert_before(head, n);
}

static inline void ul_del(struct uci_list *n)
{
	n->prev->next = n->next;
	n->next->prev = n->prev;
	n->next = n->prev = n;
}

/* --- growable byte buffer --- */
struct sbuf {
	char *d;
	size_t len;
	size_t cap;
	bool fail;
};

bool sb_reserve(struct sbuf *b, size_t extra);
void sb_put(struct sbuf *b, const char *s, size_t n);
static inline void sb_puts(struct sbuf *b, const char *s)
{
	sb_put(b, s, strlen(s));
}
static inline void sb_putc(struct sbuf *b, char c)
{
	if (b->len + 1 < b->cap || sb_reserve(b, 1))
		b->d[b->len++] = c;
}
void sb_quoted(struct sbuf *b, const char *s);
void sb_free(struct sbuf *b);

/* --- names --- */
bool uci_name_ok(const char *s);
bool uci_type_ok(const char *s);
bool uci_type_ok_n(const char *s, size_t n);
bool uci_pkgname_ok(const char *s);

/* --- name index of a package (kept in p->priv) --- */
struct tree_index;
struct tree_index *index_new(void);
void index_free(struct tree_index *x);
void index_add_section(struct uci_package *p, struct usec *u);
void index_del_section(struct uci_package *p, struct usec *u);
void index_add_option(struct uci_section *s, struct uopt *u);
void index_del_option(struct uci_section *s, struct uopt *u);
struct uci_section *index_find_section(struct uci_package *p, const char *name);
struct uci_option *index_find_option(struct uci_section *s, const char *name);

/* --- tree operations without change recording --- */
struct uci_package *pkg_new(struct uci_context *ctx, const char *name, const char *path);
void pkg_free(struct uci_package *p);
struct uci_section *sec_find(struct uci_package *p, const char *name);
struct uci_section *sec_new(struct uci_package *p, const char *type, const char *name, bool anonymous);
bool sec_set_type(struct uci_section *s, const char *type);
bool sec_rename(struct uci_section *s, const char *name);
bool pkg_as_written(struct uci_package *p);
void sec_free(struct uci_section *s);
struct uci_option *opt_find(struct uci_section *s, const char *name);
struct uci_option *opt_set(struct uci_section *s, struct uci_option *o, const char *name, const char *value);
struct uci_option *opt_add_item(struct uci_section *s, struct uci_option *o, const char *name, const char *value);
bool opt_del_item_at(struct uci_option *o, long n);
void opt_del_items(struct uci_option *o, const char *value);
bool opt_rename(struct uci_option *o, const char *name);
void opt_free(struct uci_option *o);
int sec_index(struct uci_section *s);
void sec_move(struct uci_section *s, int pos);
struct uci_element *elem_new(enum uci_type type, const char *name);
void elem_free_list(struct uci_list *head);

/* --- changes --- */
struct uci_delta *delta_new(enum uci_command cmd, const char *sec, const char *opt, const char *value);
bool delta_record(struct uci_package *p, enum uci_command cmd, const char *sec, const char *opt,
		  const char *value);
void delta_free_list(struct uci_list *head);
void delta_format(struct sbuf *b, const char *pkg, const struct uci_delta *d);
int delta_apply(struct uci_package *p, enum uci_command cmd, const char *sec, const char *opt,
		const char *value);

/* --- parsing --- */
void uci_parse_error_clear(struct uci_context *ctx);
int parse_config(struct uci_context *ctx, struct uci_package *p, const char *buf, size_t len);
int parse_delta(struct uci_context *ctx, struct uci_package *p, const char *buf, size_t len,
		struct uci_list *raw);

/* A delta file entry kept verbatim (for revert) with its parsed key. */
struct raw_delta {
	struct uci_element e;
	size_t off, len;
	bool parsed;
	char *pkg, *sec, *opt;
};

int lookup_if_needed(struct uci_context *ctx, struct uci_ptr *ptr);

/* --- the file store (the rest is in store.h) --- */
int uci_load_pkg(struct uci_context *ctx, const char *name, struct uci_package **res);
void export_text(struct sbuf *b, struct uci_package *p, bool header, bool names);

/* --- context --- */
static inline int uci_fail(struct uci_context *ctx, int err)
{
	ctx->err = err;
	return err;
}

#define UCI_ENTER(ctx) do { \
	if (!(ctx)) return UCI_ERR_INVAL; \
	(ctx)->err = 0; \
	if ((ctx)->pctx) (ctx)->pctx->reason = NULL; \
} while (0)

#endif
