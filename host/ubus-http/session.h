/*
 * session.h - login sessions and their access checks, as the router's
 * session object keeps them
 */
#ifndef UBUS_HTTP_SESSION_H
#define UBUS_HTTP_SESSION_H

#include <stdbool.h>
#include <json-c/json.h>

#include "acl.h"

#define SESSION_ID_LEN		32
#define SESSION_ANON_ID		"00000000000000000000000000000000"
#define SESSION_TIMEOUT		300
#define SESSION_MAX		256
/* logins per client address: a burst, then one every interval (seconds) */
#define SESSION_LOGIN_BURST	10
#define SESSION_LOGIN_INTERVAL	2

/* Which access groups a user gets: comma-separated globs, "!glob" denies. */
struct session_login {
	char *user;
	char *read;
	char *write;
};

void session_init(const struct acl_set *acl, const struct session_login *logins, int n_logins);
/* Parses "USER:READ-GLOBS:WRITE-GLOBS"; 0 on success. */
int session_login_parse(struct session_login *login, const char *arg);

/* Whether SID may call FUNCTION of OBJECT in SCOPE; an unknown or lapsed sid may not. */
bool session_allowed(const char *sid, const char *scope, const char *object, const char *function);

/*
 * The session object's methods for a client at ADDR; a ubus status, *reply
 * (owned by the caller) may carry data.
 */
int session_call(const char *method, struct json_object *args, const char *addr,
		 struct json_object **reply);

#endif
