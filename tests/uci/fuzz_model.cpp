// libFuzzer target: the parser against the model of the file rules. The
// input steers the generator of config_model.h; the library must load the
// generated file to the predicted export text or fail with the predicted
// error, line and byte.
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include "internal.h"
}

#include "config_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (!size)
		return 0;
	ucimodel::Gen g(ucimodel::Source(data + 1, size - 1));
	g.file(data[0] & 1);
	struct uci_context *ctx = uci_alloc_context();
	struct uci_package *p = ctx ? pkg_new(ctx, "fuzz", nullptr) : nullptr;
	if (!p)
		abort();
	int r = parse_config(ctx, p, g.text.data(), g.text.size());
	std::string got;
	if (r == UCI_ERR_PARSE) {
		char *s = nullptr;
		ctx->err = r;
		uci_get_errorstr(ctx, &s, nullptr);
		got = s ? s : "";
		free(s);
	} else if (r == 0) {
		struct sbuf b = {};
		export_text(&b, p, true, false);
		got.assign(b.d ? b.d : "", b.len);
		sb_free(&b);
	}
	std::string want = g.error.empty() ? g.m.exported("fuzz") : "Parse error (" + g.error;
	if (got != want) {
		fprintf(stderr, "file:\n%s\n---\nwant:\n%s\n---\ngot (%d):\n%s\n", g.text.c_str(), want.c_str(), r,
			got.c_str());
		abort();
	}
	pkg_free(p);
	uci_free_context(ctx);
	return 0;
}
