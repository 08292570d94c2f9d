#include "core/uci_conf.h"

#include <stdlib.h>
#include <string.h>

extern "C" {
#include <uci.h>
}

#include "core/log.h"

#define UCI_STATE_DIR "/var/state"
#define UCI_SET_BUF_SIZE 256

static struct uci_context *open_store(int flag)
{
	struct uci_context *ctx = uci_alloc_context();

	if (!ctx || flag != 1)
		return ctx;
	uci_set_confdir(ctx, UCI_STATE_DIR);
#ifdef VELOXD_HAVE_UCI_CONF2DIR
	/* Newer libraries look in an override directory first: not for the state store. */
	uci_set_conf2dir(ctx, NULL);
#endif
	return ctx;
}

/*
 * Only a plain string option has a value we can hand back: a list keeps its
 * items elsewhere and its string member holds no text.
 */
static const char *option_string(const struct uci_ptr *ptr)
{
	if (!ptr->o || ptr->o->type != UCI_TYPE_STRING)
		return NULL;
	return ptr->o->v.string;
}

/* Callers use the buffer as a string: long values are cut so it stays terminated. */
static void copy_value(char *value, const char *str)
{
	strncpy(value, str, UCI_VALUE_SIZE - 1);
	value[UCI_VALUE_SIZE - 1] = '\0';
}

/*
 * The store for flag, for a public call that was given key and value; or
 * null, after the caller's error line. Inlined: a program that links one of
 * the two calls would only pay for a call.
 */
static inline __attribute__((always_inline)) struct uci_context *
open_for(const char *caller, const char *key, const char *value, int flag)
{
	struct uci_context *ctx;

	if (!key || !value) {
		log_as(LOG_LEVEL_ERROR, caller, "Invalid argument for %s!\n", caller);
		return NULL;
	}
	ctx = open_store(flag);
	if (!ctx)
		log_as(LOG_LEVEL_ERROR, caller, "allocate uci context failed!\n");
	return ctx;
}

extern "C" int uci_get_conf(const char *key, char *value, int flag)
{
	struct uci_context *ctx = open_for(__func__, key, value, flag);
	struct uci_ptr ptr;
	const char *str;
	char *copy;
	int ret = -1;

	if (!ctx)
		return -1;
	/* The lookup cuts its argument into pieces, so it gets a copy. */
	copy = strdup(key);
	memset(&ptr, 0, sizeof(ptr));
	if (!copy) {
		log_error("duplicate uci option failed!\n");
	} else if (uci_lookup_ptr(ctx, &ptr, copy, true) != UCI_OK) {
		log_error("can not find uci option: %s\n", copy);
	} else if (!(str = option_string(&ptr))) {
		log_error("value of option: %s is NULL\n", copy);
	} else {
		copy_value(value, str);
		ret = 0;
	}

	uci_free_context(ctx);
	free(copy);
	return ret;
}

extern "C" int uci_set_conf(const char *key, const char *value, int flag)
{
	struct uci_context *ctx;
	struct uci_ptr ptr;
	char buf[UCI_SET_BUF_SIZE];
	int ret = -1;

	memset(buf, 0, sizeof(buf));
	ctx = open_for(__func__, key, value, flag);
	if (!ctx)
		return -1;
	memset(buf, 0, sizeof(buf));
	snprintf(buf, sizeof(buf), "%s=%s", key, value);
	memset(&ptr, 0, sizeof(ptr));
	if (uci_lookup_ptr(ctx, &ptr, buf, true) != UCI_OK)
		log_error("can not find uci option: %s\n", buf);
	else if (uci_set(ctx, &ptr) != UCI_OK)
		log_error("set uci failed: %s\n", buf);
	else if (uci_save(ctx, ptr.p) != UCI_OK)
		log_error("save uci failed: %s\n", buf);
	else if (uci_commit(ctx, &ptr.p, false) != UCI_OK)
		log_error("commit uci failed: %s\n", buf);
	else
		ret = 0;

	uci_free_context(ctx);
	return ret;
}
