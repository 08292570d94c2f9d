/*
 * acl.c - access groups read from the acl.d files
 *
 * File layout: { "<group>": { "read": { "<scope>": ... }, "write": { ... } } }.
 * A scope's value is either { "<object glob>": ["<function glob>", ...] } or
 * [ "<object>", ... ], the latter granting the level's name as function.
 * Groups of the same name in several files add up.
 */
#include <fnmatch.h>
#include <glob.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <json-c/json.h>

#include "acl.h"

const char *const acl_level_names[__ACL_LEVEL_MAX] = {
	[ACL_READ] = "read",
	[ACL_WRITE] = "write",
};

bool acl_glob_match(const char *pattern, const char *text)
{
	return fnmatch(pattern, text, FNM_NOESCAPE) == 0;
}

int acl_group_index(const struct acl_set *acl, const char *group)
{
	int i;

	for (i = 0; i < acl->n_groups; i++)
		if (!strcmp(acl->groups[i], group))
			return i;
	return -1;
}

static int acl_group_add(struct acl_set *acl, const char *group)
{
	int i = acl_group_index(acl, group);
	char **g;

	if (i >= 0)
		return i;
	g = realloc(acl->groups, (acl->n_groups + 1) * sizeof(*g));
	if (!g)
		return -1;
	acl->groups = g;
	g[acl->n_groups] = strdup(group);
	if (!g[acl->n_groups])
		return -1;
	return acl->n_groups++;
}

static void acl_entry_add(struct acl_set *acl, int group, enum acl_level level,
			  const char *scope, const char *object, const char *function)
{
	struct acl_entry *e;

	e = realloc(acl->entries, (acl->n_entries + 1) * sizeof(*e));
	if (!e)
		return;
	acl->entries = e;
	e += acl->n_entries;
	e->group = group;
	e->level = level;
	e->scope = strdup(scope);
	e->object = strdup(object);
	e->function = strdup(function);
	if (!e->scope || !e->object || !e->function) {
		free(e->scope);
		free(e->object);
		free(e->function);
		return;
	}
	acl->n_entries++;
}

static void acl_load_scope(struct acl_set *acl, int group, enum acl_level level,
			   const char *scope, struct json_object *val)
{
	size_t i, n;

	if (json_object_is_type(val, json_type_array)) {
		n = json_object_array_length(val);
		for (i = 0; i < n; i++) {
			struct json_object *o = json_object_array_get_idx(val, i);

			if (json_object_is_type(o, json_type_string))
				acl_entry_add(acl, group, level, scope,
					      json_object_get_string(o), acl_level_names[level]);
		}
		return;
	}
	if (!json_object_is_type(val, json_type_object))
		return;
	json_object_object_foreach(val, object, funcs) {
		if (!json_object_is_type(funcs, json_type_array))
			continue;
		n = json_object_array_length(funcs);
		for (i = 0; i < n; i++) {
			struct json_object *f = json_object_array_get_idx(funcs, i);

			if (json_object_is_type(f, json_type_string))
				acl_entry_add(acl, group, level, scope, object,
					      json_object_get_string(f));
		}
	}
}

static void acl_load_group(struct acl_set *acl, const char *name, struct json_object *def)
{
	int level, group;

	if (!json_object_is_type(def, json_type_object))
		return;
	group = acl_group_add(acl, name);
	if (group < 0)
		return;
	for (level = 0; level < __ACL_LEVEL_MAX; level++) {
		struct json_object *scopes;

		if (!json_object_object_get_ex(def, acl_level_names[level], &scopes) ||
		    !json_object_is_type(scopes, json_type_object))
			continue;
		json_object_object_foreach(scopes, scope, val)
			acl_load_scope(acl, group, level, scope, val);
	}
}

static int acl_load_file(struct acl_set *acl, const char *path)
{
	struct json_object *top = json_object_from_file(path);

	if (!top || !json_object_is_type(top, json_type_object)) {
		fprintf(stderr, "ubus-httpd: %s: not a JSON object, ignored\n", path);
		json_object_put(top);
		return -1;
	}
	json_object_object_foreach(top, name, def)
		acl_load_group(acl, name, def);
	json_object_put(top);
	return 0;
}

int acl_load_dir(struct acl_set *acl, const char *dir)
{
	char pattern[4096];
	glob_t g;
	size_t i;
	int ret;

	snprintf(pattern, sizeof(pattern), "%s/*.json", dir);
	ret = glob(pattern, 0, NULL, &g);
	if (ret == GLOB_NOMATCH)
		return 0;
	if (ret)
		return -1;
	for (i = 0; i < g.gl_pathc; i++)
		acl_load_file(acl, g.gl_pathv[i]);
	globfree(&g);
	return 0;
}

void acl_add_builtin(struct acl_set *acl)
{
	int group = acl_group_add(acl, "unauthenticated");

	if (group < 0)
		return;
	acl_entry_add(acl, group, ACL_READ, "ubus", "session", "access");
	acl_entry_add(acl, group, ACL_READ, "ubus", "session", "login");
}

void acl_free(struct acl_set *acl)
{
	int i;

	for (i = 0; i < acl->n_entries; i++) {
		free(acl->entries[i].scope);
		free(acl->entries[i].object);
		free(acl->entries[i].function);
	}
	for (i = 0; i < acl->n_groups; i++)
		free(acl->groups[i]);
	free(acl->entries);
	free(acl->groups);
	memset(acl, 0, sizeof(*acl));
}
