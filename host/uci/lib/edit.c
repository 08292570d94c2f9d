/* Editing calls: each changes the loaded package and records the change so
 * uci_save can append it to the save file. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

/* Every edit of a key opens alike: the error state cleared, the key looked
 * up and its package loaded. Returns 0, or the error, recorded in ctx. */
static int open_edit(struct uci_context *ctx, struct uci_ptr *ptr)
{
	UCI_ENTER(ctx);
	if (!ptr)
		return uci_fail(ctx, UCI_ERR_INVAL);
	int r = lookup_if_needed(ctx, ptr);
	if (r)
		return uci_fail(ctx, r);
	return ptr->p ? 0 : uci_fail(ctx, UCI_ERR_INVAL);
}

/* A list edit also needs a section, an option name and a value. */
static int open_list_edit(struct uci_context *ctx, struct uci_ptr *ptr)
{
	int r = open_edit(ctx, ptr);
	if (r)
		return r;
	if (!ptr->s || !ptr->option || !ptr->value)
		return uci_fail(ctx, UCI_ERR_INVAL);
	return 0;
}

#define RECORD(p, ...) do { if (!delta_record(p, __VA_ARGS__)) return uci_fail(ctx, UCI_ERR_MEM); } while (0)

static int set_section(struct uci_context *ctx, struct uci_ptr *ptr)
{
	struct uci_package *p = ptr->p;
	const char *v = ptr->value;
	if (!ptr->s) {
		if (!*v)
			return 0;
		/* An @type[N] key that found nothing is no name to create: such
		 * a section would be dropped again at the next load. */
		if (!uci_type_ok(v) || !uci_name_ok(ptr->section))
			return uci_fail(ctx, UCI_ERR_INVAL);
		ptr->s = sec_new(p, v, ptr->section, false);
		if (!ptr->s)
			return uci_fail(ctx, UCI_ERR_MEM);
		RECORD(p, UCI_CMD_CHANGE, ptr->section, NULL, v);
		return 0;
	}
	if (!*v) {
		RECORD(p, UCI_CMD_REMOVE, ptr->s->e.name, NULL, NULL);
		sec_free(ptr->s);
		ptr->s = NULL;
		return 0;
	}
	if (!strcmp(ptr->s->type, v))
		return 0;
	if (!uci_type_ok(v))
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (!sec_set_type(ptr->s, v))
		return uci_fail(ctx, UCI_ERR_MEM);
	RECORD(p, UCI_CMD_CHANGE, ptr->s->e.name, NULL, v);
	return 0;
}

UCI_EXPORT int uci_set(struct uci_context *ctx, struct uci_ptr *ptr)
{
	int r = open_edit(ctx, ptr);
	if (r)
		return r;
	if (!ptr->value)
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (!ptr->option)
		return ptr->section ? set_section(ctx, ptr) : uci_fail(ctx, UCI_ERR_INVAL);
	if (!ptr->s)
		return uci_fail(ctx, UCI_ERR_INVAL);

	struct uci_package *p = ptr->p;
	const char *v = ptr->value;
	if (!*v) {
		if (!ptr->o)
			return 0;
		RECORD(p, UCI_CMD_REMOVE, ptr->s->e.name, ptr->option, NULL);
		opt_free(ptr->o);
		ptr->o = NULL;
		return 0;
	}
	if (ptr->o && ptr->o->type == UCI_TYPE_STRING && !strcmp(ptr->o->v.string, v))
		return 0;
	struct uci_option *o = opt_set(ptr->s, ptr->o, ptr->option, v);
	if (!o)
		return uci_fail(ctx, UCI_ERR_MEM);
	ptr->o = o;
	RECORD(p, UCI_CMD_CHANGE, ptr->s->e.name, o->e.name, v);
	return 0;
}

UCI_EXPORT int uci_add_list(struct uci_context *ctx, struct uci_ptr *ptr)
{
	int r = open_list_edit(ctx, ptr);
	if (r)
		return r;
	struct uci_option *o = opt_add_item(ptr->s, ptr->o, ptr->option, ptr->value);
	if (!o)
		return uci_fail(ctx, UCI_ERR_MEM);
	ptr->o = o;
	RECORD(ptr->p, UCI_CMD_LIST_ADD, ptr->s->e.name, o->e.name, ptr->value);
	return 0;
}

UCI_EXPORT int uci_del_list(struct uci_context *ctx, struct uci_ptr *ptr)
{
	int r = open_list_edit(ctx, ptr);
	if (r)
		return r;
	if (!ptr->o || ptr->o->type != UCI_TYPE_LIST)
		return 0;
	opt_del_items(ptr->o, ptr->value);
	RECORD(ptr->p, UCI_CMD_LIST_DEL, ptr->s->e.name, ptr->o->e.name, ptr->value);
	return 0;
}

UCI_EXPORT int uci_delete(struct uci_context *ctx, struct uci_ptr *ptr)
{
	int r = open_edit(ctx, ptr);
	if (r)
		return r;
	if (!(ptr->flags & UCI_LOOKUP_COMPLETE))
		return uci_fail(ctx, UCI_ERR_NOTFOUND);
	if (!ptr->s)
		return uci_fail(ctx, UCI_ERR_INVAL);
	struct uci_package *p = ptr->p;
	if (ptr->o) {
		struct uci_option *o = ptr->o;
		if (o->type == UCI_TYPE_LIST && ptr->value && *ptr->value) {
			char *end;
			long n = strtol(ptr->value, &end, 10);
			if (*end)
				return 1; /* not an item index: nothing to do */
			if (!opt_del_item_at(o, n))
				return uci_fail(ctx, UCI_ERR_NOTFOUND);
			RECORD(p, UCI_CMD_REMOVE, ptr->s->e.name, o->e.name, ptr->value);
			return 0;
		}
		RECORD(p, UCI_CMD_REMOVE, ptr->s->e.name, o->e.name, NULL);
		opt_free(o);
		ptr->o = NULL;
		return 0;
	}
	RECORD(p, UCI_CMD_REMOVE, ptr->s->e.name, NULL, NULL);
	sec_free(ptr->s);
	ptr->s = NULL;
	return 0;
}

UCI_EXPORT int uci_rename(struct uci_context *ctx, struct uci_ptr *ptr)
{
	int r = open_edit(ctx, ptr);
	if (r)
		return r;
	if (!ptr->s || !ptr->value || !uci_name_ok(ptr->value))
		return uci_fail(ctx, UCI_ERR_INVAL);
	if (ptr->option && !ptr->o)
		return uci_fail(ctx, UCI_ERR_NOTFOUND);
	/* record first: the old name is freed by the rename */
	RECORD(ptr->p, UCI_CMD_RENAME, ptr->s->e.name, ptr->o ? ptr->o->e.name : NULL, ptr->value);
	bool ok = ptr->o ? opt_rename(ptr->o, ptr->value) : sec_rename(ptr->s, ptr->value);
	if (!ok)
		return uci_fail(ctx, UCI_ERR_MEM);
	return 0;
}

UCI_EXPORT int uci_reorder_section(struct uci_context *ctx, struct uci_section *s, int pos)
{
	UCI_ENTER(ctx);
	if (!s || pos < 0)
		return uci_fail(ctx, UCI_ERR_INVAL);
	int old = sec_index(s);
	sec_move(s, pos);
	if (sec_index(s) == old)
		return 0;
	char num[16];
	snprintf(num, sizeof(num), "%d", pos);
	RECORD(s->package, UCI_CMD_REORDER, s->e.name, NULL, num);
	return 0;
}

UCI_EXPORT int uci_add_section(struct uci_context *ctx, struct uci_package *p, const char *type,
			       struct uci_section **res)
{
	UCI_ENTER(ctx);
	if (!p || !type)
		return uci_fail(ctx, UCI_ERR_INVAL);
	struct uci_section *s = sec_new(p, type, NULL, true);
	if (!s)
		return uci_fail(ctx, UCI_ERR_MEM);
	RECORD(p, UCI_CMD_ADD, s->e.name, NULL, type);
	if (res)
		*res = s;
	return 0;
}
