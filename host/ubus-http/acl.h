/*
 * acl.h - access groups read from the acl.d files
 */
#ifndef UBUS_HTTP_ACL_H
#define UBUS_HTTP_ACL_H

#include <stdbool.h>

enum acl_level {
	ACL_READ,
	ACL_WRITE,
	__ACL_LEVEL_MAX,
};

/* One grant: in scope, functions matching `function` of objects matching `object`. */
struct acl_entry {
	int group;
	enum acl_level level;
	char *scope;
	char *object;
	char *function;
};

struct acl_set {
	char **groups;
	int n_groups;
	struct acl_entry *entries;
	int n_entries;
};

extern const char *const acl_level_names[__ACL_LEVEL_MAX];

/* Loads the .json files of DIR; a broken file is reported and skipped. */
int acl_load_dir(struct acl_set *acl, const char *dir);
/* The grants rpcd itself gives every anonymous session. */
void acl_add_builtin(struct acl_set *acl);
int acl_group_index(const struct acl_set *acl, const char *group);
bool acl_glob_match(const char *pattern, const char *text);
void acl_free(struct acl_set *acl);

#endif
