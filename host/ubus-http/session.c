/*
 * session.c - login sessions and their access checks
 *
 * The anonymous session never lapses and holds the "unauthenticated" groups.
 * A login session holds the groups its user's globs select, and lapses
 * SESSION_TIMEOUT seconds after it was last looked up. Passwords are not
 * checked: this stands in for the router's session object on a development PC.
 *
 * Logins come from anyone, so they take only free or lapsed slots: with the
 * table full a login is refused rather than a live session dropped. Each
 * client address may log in SESSION_LOGIN_BURST times at once and then once
 * every SESSION_LOGIN_INTERVAL seconds; with the default timeout one address
 * alone cannot fill the table.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <sys/random.h>
#include <libubus.h>

#include "session.h"

struct session {
	char id[SESSION_ID_LEN + 1];
	char user[64];
	int timeout;
	time_t expires;
	/* per access group: bit ACL_READ, bit ACL_WRITE */
	unsigned char *grant;
};

static struct {
	const struct acl_set *acl;
	const struct session_login *logins;
	int n_logins;
} store;
static struct session sessions[SESSION_MAX];

static time_t now(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec;
}

static void session_clear(struct session *s)
{
	free(s->grant);
	memset(s, 0, sizeof(*s));
}

static bool session_live(struct session *s)
{
	if (!s->id[0])
		return false;
	if (s->timeout && s->expires <= now()) {
		session_clear(s);
		return false;
	}
	return true;
}

/* A lookup restarts the session's timer, as on the router. */
static struct session *session_find(const char *sid)
{
	int i;

	if (!sid)
		return NULL;
	for (i = 0; i < SESSION_MAX; i++) {
		struct session *s = &sessions[i];

		if (!session_live(s) || strcmp(s->id, sid))
			continue;
		if (s->timeout)
			s->expires = now() + s->timeout;
		return s;
	}
	return NULL;
}

/* A free or lapsed slot (never the anonymous one's), or NULL. */
static struct session *session_slot(void)
{
	int i;

	for (i = 1; i < SESSION_MAX; i++)
		if (!session_live(&sessions[i]))
			return &sessions[i];
	return NULL;
}

/*
 * Per address the time its logins are booked up to: a login may go ahead
 * while that lies less than a burst's worth of intervals ahead. The table
 * is small; an address not in it takes the slot booked the least far.
 */
#define LOGIN_ADDRS	64

static struct {
	char addr[64];
	time_t booked;
} login_rate[LOGIN_ADDRS];

static bool login_allowed(const char *addr)
{
	time_t t = now(), booked;
	int i, slot = 0;

	for (i = 0; i < LOGIN_ADDRS; i++) {
		if (!strcmp(login_rate[i].addr, addr))
			break;
		if (login_rate[i].booked < login_rate[slot].booked)
			slot = i;
	}
	if (i == LOGIN_ADDRS) {
		i = slot;
		snprintf(login_rate[i].addr, sizeof(login_rate[i].addr), "%s", addr);
		login_rate[i].booked = 0;
	}
	booked = login_rate[i].booked > t ? login_rate[i].booked : t;
	if (booked - t >= SESSION_LOGIN_BURST * SESSION_LOGIN_INTERVAL)
		return false;
	login_rate[i].booked = booked + SESSION_LOGIN_INTERVAL;
	return true;
}

static bool globs_match(const char *list, const char *group, bool negated)
{
	char buf[1024], *tok, *save = NULL;

	snprintf(buf, sizeof(buf), "%s", list ? list : "");
	for (tok = strtok_r(buf, ", ", &save); tok; tok = strtok_r(NULL, ", ", &save)) {
		if ((tok[0] == '!') != negated)
			continue;
		if (acl_glob_match(tok + negated, group))
			return true;
	}
	return false;
}

static void session_grant_login(struct session *s, const struct session_login *l)
{
	int g;

	for (g = 0; g < store.acl->n_groups; g++) {
		const char *name = store.acl->groups[g];
		bool w = !globs_match(l->write, name, true) && globs_match(l->write, name, false);
		bool r = w || (!globs_match(l->read, name, true) && globs_match(l->read, name, false));

		s->grant[g] = (r << ACL_READ) | (w << ACL_WRITE);
	}
}

static int session_new(struct session *s, const char *user, int timeout)
{
	unsigned char raw[SESSION_ID_LEN / 2];
	size_t i;

	if (getrandom(raw, sizeof(raw), 0) != sizeof(raw))
		return -1;
	s->grant = calloc(store.acl->n_groups + 1, 1);
	if (!s->grant)
		return -1;
	for (i = 0; i < sizeof(raw); i++)
		sprintf(s->id + 2 * i, "%02x", raw[i]);
	snprintf(s->user, sizeof(s->user), "%s", user);
	s->timeout = timeout;
	s->expires = now() + timeout;
	return 0;
}

void session_init(const struct acl_set *acl, const struct session_login *logins, int n_logins)
{
	struct session *anon = &sessions[0];
	int g;

	store.acl = acl;
	store.logins = logins;
	store.n_logins = n_logins;
	strcpy(anon->id, SESSION_ANON_ID);
	anon->grant = calloc(acl->n_groups + 1, 1);
	g = acl_group_index(acl, "unauthenticated");
	if (anon->grant && g >= 0)
		anon->grant[g] = (1 << ACL_READ) | (1 << ACL_WRITE);
}

int session_login_parse(struct session_login *login, const char *arg)
{
	char *a = strchr(arg, ':'), *b = a ? strchr(a + 1, ':') : NULL;

	if (!a || !b || a == arg)
		return -1;
	login->user = strndup(arg, a - arg);
	login->read = strndup(a + 1, b - a - 1);
	login->write = strdup(b + 1);
	return login->user && login->read && login->write ? 0 : -1;
}

static bool session_has(const struct session *s, const char *scope,
			const char *object, const char *function)
{
	const struct acl_set *acl = store.acl;
	int i;

	if (!strcmp(scope, "access-group")) {
		int g = acl_group_index(acl, object);
		int lvl = !strcmp(function, "write") ? ACL_WRITE : ACL_READ;

		return g >= 0 && (s->grant[g] & (1 << lvl)) &&
		       !strcmp(function, acl_level_names[lvl]);
	}
	for (i = 0; i < acl->n_entries; i++) {
		const struct acl_entry *e = &acl->entries[i];

		if (!(s->grant[e->group] & (1 << e->level)) || strcmp(e->scope, scope))
			continue;
		if (acl_glob_match(e->object, object) && acl_glob_match(e->function, function))
			return true;
	}
	return false;
}

bool session_allowed(const char *sid, const char *scope, const char *object, const char *function)
{
	struct session *s = session_find(sid);

	return s && session_has(s, scope, object, function);
}

/* {scope: {object: [functions]}} of everything the session holds */
static struct json_object *session_acls(const struct session *s)
{
	const struct acl_set *acl = store.acl;
	struct json_object *tree = json_object_new_object(), *scope, *obj;
	int i, lvl;

	for (i = 0; i < acl->n_entries; i++) {
		const struct acl_entry *e = &acl->entries[i];

		if (!(s->grant[e->group] & (1 << e->level)))
			continue;
		if (!json_object_object_get_ex(tree, e->scope, &scope)) {
			scope = json_object_new_object();
			json_object_object_add(tree, e->scope, scope);
		}
		if (!json_object_object_get_ex(scope, e->object, &obj)) {
			obj = json_object_new_array();
			json_object_object_add(scope, e->object, obj);
		}
		json_object_array_add(obj, json_object_new_string(e->function));
	}
	for (i = 0; i < acl->n_groups; i++) {
		if (!s->grant[i])
			continue;
		if (!json_object_object_get_ex(tree, "access-group", &scope)) {
			scope = json_object_new_object();
			json_object_object_add(tree, "access-group", scope);
		}
		obj = json_object_new_array();
		for (lvl = 0; lvl < __ACL_LEVEL_MAX; lvl++)
			if (s->grant[i] & (1 << lvl))
				json_object_array_add(obj, json_object_new_string(acl_level_names[lvl]));
		json_object_object_add(scope, acl->groups[i], obj);
	}
	return tree;
}

static struct json_object *session_dump(const struct session *s)
{
	struct json_object *o = json_object_new_object(), *data = json_object_new_object();
	long left = s->timeout ? (long)(s->expires - now()) : 0;

	json_object_object_add(o, "ubus_rpc_session", json_object_new_string(s->id));
	json_object_object_add(o, "timeout", json_object_new_int(s->timeout));
	json_object_object_add(o, "expires", json_object_new_int(left));
	json_object_object_add(o, "acls", session_acls(s));
	if (s->user[0])
		json_object_object_add(data, "username", json_object_new_string(s->user));
	json_object_object_add(o, "data", data);
	return o;
}

static const char *arg_string(struct json_object *args, const char *key)
{
	struct json_object *v;

	if (!json_object_object_get_ex(args, key, &v) || !json_object_is_type(v, json_type_string))
		return NULL;
	return json_object_get_string(v);
}

static int session_login(struct json_object *args, const char *addr, struct json_object **reply)
{
	const char *user = arg_string(args, "username");
	struct json_object *t;
	struct session *s;
	int timeout = SESSION_TIMEOUT, i;

	/* a refusal while limited looks like a wrong password: it tells a guesser nothing */
	if (!login_allowed(addr))
		return UBUS_STATUS_PERMISSION_DENIED;
	if (!user || !arg_string(args, "password"))
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (json_object_object_get_ex(args, "timeout", &t) && json_object_is_type(t, json_type_int) &&
	    json_object_get_int(t) > 0)
		timeout = json_object_get_int(t);
	for (i = 0; i < store.n_logins; i++)
		if (!strcmp(store.logins[i].user, user))
			break;
	if (i == store.n_logins)
		return UBUS_STATUS_PERMISSION_DENIED;
	s = session_slot();
	if (!s || session_new(s, user, timeout))
		return UBUS_STATUS_UNKNOWN_ERROR;
	session_grant_login(s, &store.logins[i]);
	*reply = session_dump(s);
	return UBUS_STATUS_OK;
}

static int session_access(struct json_object *args, const char *addr, struct json_object **reply)
{
	struct session *s = session_find(arg_string(args, "ubus_rpc_session"));
	const char *scope = arg_string(args, "scope");
	const char *object = arg_string(args, "object");
	const char *function = arg_string(args, "function");

	if (!s)
		return UBUS_STATUS_NOT_FOUND;
	if (!object || !function) {
		*reply = session_acls(s);
		return UBUS_STATUS_OK;
	}
	*reply = json_object_new_object();
	json_object_object_add(*reply, "access",
			       json_object_new_boolean(session_has(s, scope ? scope : "ubus", object, function)));
	return UBUS_STATUS_OK;
}

static int session_destroy(struct json_object *args, const char *addr, struct json_object **reply)
{
	struct session *s = session_find(arg_string(args, "ubus_rpc_session"));

	if (!s)
		return UBUS_STATUS_NOT_FOUND;
	if (s == &sessions[0])
		return UBUS_STATUS_PERMISSION_DENIED;
	session_clear(s);
	return UBUS_STATUS_OK;
}

static const struct {
	const char *name;
	int (*handler)(struct json_object *args, const char *addr, struct json_object **reply);
} session_methods[] = {
	{ "login", session_login },
	{ "access", session_access },
	{ "destroy", session_destroy },
};

int session_call(const char *method, struct json_object *args, const char *addr,
		 struct json_object **reply)
{
	size_t i;

	*reply = NULL;
	for (i = 0; i < sizeof(session_methods) / sizeof(session_methods[0]); i++)
		if (!strcmp(session_methods[i].name, method))
			return session_methods[i].handler(args, addr, reply);
	return UBUS_STATUS_METHOD_NOT_FOUND;
}
