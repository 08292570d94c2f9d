/*
 * bus_rig.h - a private ubusd and one server process for the bus benchmarks
 */
#ifndef BUS_RIG_H
#define BUS_RIG_H

#include <sys/resource.h>
#include <sys/types.h>

#include <libubus.h>

struct bus_rig {
	char dir[32];
	char sock[128];
	pid_t broker;
	pid_t server;
};

/*
 * Starts UBUSD on a socket in a new directory under /tmp and a server
 * process publishing OBJ; returns once the object is on the bus.
 * 0, or -1 with what failed on stderr.
 */
int bus_rig_start(struct bus_rig *rig, const char *ubusd, struct ubus_object *obj);

/* Stops both and removes the socket; the rusage of each if asked for. */
void bus_rig_stop(struct bus_rig *rig, struct rusage *server_ru, struct rusage *broker_ru);

#endif
