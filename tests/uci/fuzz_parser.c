/*
 * libFuzzer target for the two text readers: config files and save files.
 *
 * The input is parsed as a config file in strict and in lenient mode; what
 * loads is written out as commit would write it, and that text must load
 * again and write out identically. Then the same bytes are replayed as a
 * save file onto the package (also in the form revert uses).
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

static void check_round_trip(struct uci_context *ctx, struct uci_package *p)
{
	struct sbuf first = { 0 }, second = { 0 };
	export_text(&first, p, true, false);
	if (first.fail)
		return;
	struct uci_package *again = pkg_new(ctx, p->e.name, NULL);
	if (!again) {
		sb_free(&first);
		return;
	}
	enum uci_flags saved = ctx->flags;
	ctx->flags |= UCI_FLAG_STRICT;
	int r = parse_config(ctx, again, first.d, first.len);
	ctx->flags = saved;
	if (r == UCI_ERR_PARSE) {
		fprintf(stderr, "written text does not load again (%s):\n%.*s", ctx->pctx->reason,
			(int)first.len, first.d);
		abort();
	}
	if (!r) {
		export_text(&second, again, true, false);
		if (!first.fail && !second.fail &&
		    (first.len != second.len || memcmp(first.d, second.d, first.len))) {
			fprintf(stderr, "round trip changed the text:\n%.*s---\n%.*s", (int)first.len, first.d,
				(int)second.len, second.d);
			abort();
		}
	}
	sb_free(&second);
	sb_free(&first);
	pkg_free(again);
}

static void replay_deltas(struct uci_context *ctx, struct uci_package *p, const char *buf, size_t len)
{
	struct uci_list raw;
	ul_init(&raw);
	parse_delta(ctx, p, buf, len, NULL);
	parse_delta(ctx, p, buf, len, &raw);
	elem_free_list(&raw);
	struct sbuf out = { 0 };
	export_text(&out, p, false, true);
	sb_free(&out);
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	struct uci_context *ctx = uci_alloc_context();
	if (!ctx)
		return 0;
	const char *buf = (const char *)data;
	for (int strict = 1; strict >= 0; strict--) {
		ctx->flags = strict ? UCI_FLAG_STRICT | UCI_FLAG_SAVED_DELTA : UCI_FLAG_SAVED_DELTA;
		struct uci_package *p = pkg_new(ctx, "fuzz", NULL);
		if (!p)
			break;
		if (parse_config(ctx, p, buf, size) == 0) {
			check_round_trip(ctx, p);
			/* the same bytes as a save file for this package */
			replay_deltas(ctx, p, buf, size);
		}
		pkg_free(p);
	}
	uci_free_context(ctx);
	return 0;
}
