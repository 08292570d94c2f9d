/*
 * bus.h - the gateway's calls on the bus, started and answered on the loop
 */
#ifndef UBUS_HTTP_BUS_H
#define UBUS_HTTP_BUS_H

#include <stdbool.h>
#include <stdint.h>
#include <json-c/json.h>

struct ubus_context;
struct bus_call;

enum bus_result {
	BUS_OK,
	BUS_NO_OBJECT,
	BUS_NO_CONNECTION,
};

/* The call's ubus status and data (NULL or a non-empty table, now the callee's) on BUS_OK. */
typedef void (*bus_call_done)(void *priv, enum bus_result r, int status, struct json_object *data);

/* Whether calls can start; a connection comes along with a lookup (query.h). */
bool bus_connected(void);
/* Takes over a connection made off the loop. */
void bus_adopt(struct ubus_context *ctx);

/*
 * Starts METHOD of object ID with ARGS plus "ubus_rpc_session"; DONE runs
 * from the loop once the answer is in. NULL if it did not start: then *r,
 * and *status on BUS_OK, say why.
 */
struct bus_call *bus_call_start(uint32_t id, const char *method, struct json_object *args,
				const char *sid, bus_call_done done, void *priv,
				enum bus_result *r, int *status);
/* Stops waiting for the answer: DONE never runs. */
void bus_call_cancel(struct bus_call *call);

void bus_done(void);

#endif
