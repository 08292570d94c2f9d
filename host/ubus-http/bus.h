/*
 * bus.h - the gateway's one connection to the bus
 */
#ifndef UBUS_HTTP_BUS_H
#define UBUS_HTTP_BUS_H

#include <stdint.h>
#include <json-c/json.h>

enum bus_result {
	BUS_OK,
	BUS_NO_OBJECT,
	BUS_NO_CONNECTION,
	BUS_TIMED_OUT,
};

void bus_init(const char *socket_path, int timeout_ms);
void bus_done(void);

enum bus_result bus_lookup(const char *object, uint32_t *id);
/* Invokes METHOD with ARGS plus "ubus_rpc_session"; *status and *data (or NULL) on BUS_OK. */
enum bus_result bus_invoke(uint32_t id, const char *method, struct json_object *args,
			   const char *sid, int *status, struct json_object **data);
/* Sorted paths of all objects, or NULL without a bus. */
struct json_object *bus_paths(void);
/* {path: {method: {arg: type}}} for objects matching PATTERN ("name" or "prefix*"). */
void bus_signatures(const char *pattern, struct json_object *into);

#endif
