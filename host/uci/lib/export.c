/* Export: a package written out in the config file syntax. */
#include <stdio.h>
#include <string.h>

#include "internal.h"

void export_text(struct sbuf *b, struct uci_package *p, bool header, bool names)
{
	struct uci_element *se, *oe, *ie;
	if (header) {
		sb_puts(b, "package ");
		sb_puts(b, p->e.name);
		sb_putc(b, '\n');
	}
	uci_foreach_element(&p->sections, se) {
		struct uci_section *s = uci_to_section(se);
		sb_puts(b, "\nconfig ");
		/* Types go out bare like everywhere else, except the few that
		 * would not read back that way (a quote, backslash, '#' or ';'). */
		if (strpbrk(s->type, "'\"\\#;"))
			sb_quoted(b, s->type);
		else
			sb_puts(b, s->type);
		if (!s->anonymous || names) {
			sb_putc(b, ' ');
			sb_quoted(b, s->e.name);
		}
		sb_putc(b, '\n');
		uci_foreach_element(&s->options, oe) {
			struct uci_option *o = uci_to_option(oe);
			if (o->type == UCI_TYPE_STRING) {
				sb_puts(b, "\toption ");
				sb_puts(b, o->e.name);
				sb_putc(b, ' ');
				sb_quoted(b, o->v.string);
				sb_putc(b, '\n');
				continue;
			}
			uci_foreach_element(&o->v.list, ie) {
				sb_puts(b, "\tlist ");
				sb_puts(b, o->e.name);
				sb_putc(b, ' ');
				sb_quoted(b, ie->name);
				sb_putc(b, '\n');
			}
		}
	}
	sb_putc(b, '\n');
}

UCI_EXPORT int uci_export(struct uci_context *ctx, FILE *stream, struct uci_package *package, bool header)
{
	UCI_ENTER(ctx);
	if (!stream || !package)
		return uci_fail(ctx, UCI_ERR_INVAL);
	struct sbuf b = { 0 };
	export_text(&b, package, header, ctx->flags & UCI_FLAG_EXPORT_NAME);
	int r = b.fail ? UCI_ERR_MEM : 0;
	if (!r && fwrite(b.d, 1, b.len, stream) != b.len)
		r = UCI_ERR_IO;
	sb_free(&b);
	return r ? uci_fail(ctx, r) : 0;
}
