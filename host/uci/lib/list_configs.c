/* Listing the packages of the config directory. */
#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "store.h"

static int cmp_str(const void *a, const void *b)
{
	return strcmp(*(char *const *)a, *(char *const *)b);
}

UCI_EXPORT int uci_list_configs(struct uci_context *ctx, char ***list)
{
	UCI_ENTER(ctx);
	if (!list)
		return uci_fail(ctx, UCI_ERR_INVAL);
	DIR *d = opendir(ctx->confdir);
	if (!d)
		return uci_fail(ctx, UCI_ERR_NOTFOUND);
	char **names = NULL;
	size_t n = 0, cap = 0, bytes = 0;
	struct dirent *de;
	char pb[STACK_PATH];
	int r = 0;
	while ((de = readdir(d))) {
		if (strchr(de->d_name, '.') || !uci_pkgname_ok(de->d_name))
			continue;
		struct stat st;
		char *path = join(pb, sizeof(pb), ctx->confdir, de->d_name);
		if (!path) {
			r = UCI_ERR_MEM;
			break;
		}
		bool dir = stat(path, &st) == 0 && S_ISDIR(st.st_mode);
		unjoin(path, pb);
		if (dir)
			continue;
		if (n == cap) {
			cap = cap ? cap * 2 : 16;
			char **nn = realloc(names, cap * sizeof(*nn));
			if (!nn) {
				r = UCI_ERR_MEM;
				break;
			}
			names = nn;
		}
		if (!(names[n] = strdup(de->d_name))) {
			r = UCI_ERR_MEM;
			break;
		}
		bytes += strlen(names[n++]) + 1;
	}
	closedir(d);
	if (!r && !n)
		r = UCI_ERR_NOTFOUND;
	char **block = NULL;
	if (!r) {
		qsort(names, n, sizeof(*names), cmp_str);
		block = malloc((n + 1) * sizeof(char *) + bytes);
		if (!block)
			r = UCI_ERR_MEM;
	}
	if (block) {
		char *s = (char *)(block + n + 1);
		for (size_t i = 0; i < n; i++) {
			size_t l = strlen(names[i]) + 1;
			block[i] = memcpy(s, names[i], l);
			s += l;
		}
		block[n] = NULL;
		*list = block;
	}
	for (size_t i = 0; i < n; i++)
		free(names[i]);
	free(names);
	return r ? uci_fail(ctx, r) : 0;
}
