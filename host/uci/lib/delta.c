/* Recorded changes: the in-memory list, the save-file line format, and
 * replaying a change onto a package. */
#include <stdlib.h>
#include <string.h>

#include "internal.h"

UCI_EXPORT const char uci_command_char[] = {
	[UCI_CMD_ADD] = '+',
	[UCI_CMD_REMOVE] = '-',
	[UCI_CMD_CHANGE] = 0,
	[UCI_CMD_RENAME] = '@',
	[UCI_CMD_REORDER] = '^',
	[UCI_CMD_LIST_ADD] = '|',
	[UCI_CMD_LIST_DEL] = '~',
	[__UCI_CMD_MAX] = 0,
};

struct uci_delta *delta_new(enum uci_command cmd, const char *sec, const char *opt, const char *value)
{
	size_t sl = strlen(sec) + 1, ol = opt ? strlen(opt) + 1 : 0, vl = value ? strlen(value) + 1 : 0;
	struct uci_delta *d = malloc(sizeof(*d) + sl + ol + vl);
	if (!d)
		return NULL;
	char *o = (char *)(d + 1);
	memset(d, 0, sizeof(*d));
	d->e.type = UCI_TYPE_DELTA;
	d->cmd = cmd;
	d->section = memcpy(o, sec, sl);
	o += sl;
	if (opt) {
		d->e.name = memcpy(o, opt, ol);
		o += ol;
	}
	if (value)
		d->value = memcpy(o, value, vl);
	ul_init(&d->e.list);
	return d;
}

bool delta_record(struct uci_package *p, enum uci_command cmd, const char *sec, const char *opt,
		  const char *value)
{
	struct uci_delta *d = delta_new(cmd, sec, opt, value);
	if (!d)
		return false;
	ul_add_tail(&p->delta, &d->e.list);
	return true;
}

void delta_free_list(struct uci_list *head)
{
	elem_free_list(head);
}

void delta_format(struct sbuf *b, const char *pkg, const struct uci_delta *d)
{
	char c = uci_command_char[d->cmd];
	if (c)
		sb_putc(b, c);
	sb_puts(b, pkg);
	sb_putc(b, '.');
	sb_puts(b, d->section);
	if (d->e.name) {
		sb_putc(b, '.');
		sb_puts(b, d->e.name);
	}
	if (d->value) {
		sb_putc(b, '=');
		sb_quoted(b, d->value);
	}
	sb_putc(b, '\n');
}

static int apply_change(struct uci_package *p, struct uci_section *s, const char *sec, const char *opt,
			const char *value)
{
	if (!value)
		return -1;
	if (opt) {
		if (!s)
			return -1;
		struct uci_option *o = opt_find(s, opt);
		if (!*value) {
			if (!o)
				return -1;
			opt_free(o);
			return 0;
		}
		return opt_set(s, o, opt, value) ? 0 : -1;
	}
	if (!*value) {
		if (!s)
			return -1;
		sec_free(s);
		return 0;
	}
	if (!uci_type_ok(value))
		return -1;
	if (!s)
		return sec_new(p, value, sec, false) ? 0 : -1;
	if (!strcmp(s->type, value))
		return 0;
	return sec_set_type(s, value) ? 0 : -1;
}

static int apply_remove(struct uci_section *s, const char *opt, const char *value)
{
	if (!s)
		return -1;
	if (!opt) {
		sec_free(s);
		return 0;
	}
	struct uci_option *o = opt_find(s, opt);
	if (!o)
		return -1;
	if (value && *value && o->type == UCI_TYPE_LIST) {
		char *end;
		long n = strtol(value, &end, 10);
		if (*end)
			return -1;
		return opt_del_item_at(o, n) ? 0 : -1;
	}
	opt_free(o);
	return 0;
}

/* Replays one change onto p; returns 0 when it applied. */
int delta_apply(struct uci_package *p, enum uci_command cmd, const char *sec, const char *opt,
		const char *value)
{
	struct uci_section *s = sec_find(p, sec);
	struct uci_option *o;

	switch (cmd) {
	case UCI_CMD_ADD:
		if (opt || !value || !uci_type_ok(value))
			return -1;
		if (s)
			return strcmp(s->type, value) && !sec_set_type(s, value) ? -1 : 0;
		return sec_new(p, value, sec, true) ? 0 : -1;
	case UCI_CMD_CHANGE:
		return apply_change(p, s, sec, opt, value);
	case UCI_CMD_REMOVE:
		return apply_remove(s, opt, value);
	case UCI_CMD_RENAME:
		if (!s || !value || !uci_name_ok(value))
			return -1;
		if (!opt)
			return sec_rename(s, value) ? 0 : -1;
		o = opt_find(s, opt);
		return o && opt_rename(o, value) ? 0 : -1;
	case UCI_CMD_REORDER: {
		if (!s || opt || !value)
			return -1;
		char *end;
		long pos = strtol(value, &end, 10);
		if (*end || end == value || pos < 0)
			return -1;
		sec_move(s, pos > 0x7fffffff ? 0x7fffffff : (int)pos);
		return 0;
	}
	case UCI_CMD_LIST_ADD:
		if (!s || !opt || !value)
			return -1;
		return opt_add_item(s, opt_find(s, opt), opt, value) ? 0 : -1;
	case UCI_CMD_LIST_DEL:
		if (!s || !opt || !value)
			return -1;
		o = opt_find(s, opt);
		if (!o || o->type != UCI_TYPE_LIST)
			return -1;
		opt_del_items(o, value);
		return 0;
	default:
		return -1;
	}
}
