#ifndef VELOXD_INTERFACE_LIST_H
#define VELOXD_INTERFACE_LIST_H

#include <stdint.h>
#include <sys/time.h>

#define INTERFACE_COUNT 12
#define IFNAME_SIZE 64
#define UCI_KEY_SIZE 64

struct interface_info {
	int8_t index;
	int8_t enable;
	char ifname[IFNAME_SIZE];
	char uci[UCI_KEY_SIZE];
	uint64_t tx_bytes;
	uint64_t last_tx_bytes;
	uint64_t rx_bytes;
	uint64_t last_rx_bytes;
	uint64_t tx_packets;
	uint64_t rx_packets;
	double tx_speed;
	double rx_speed;
	struct timeval curr_time;
	struct timeval last_time;
};

extern struct interface_info interface_list[INTERFACE_COUNT];

int interface_list_init(void);
int interface_list_dump(void);
struct interface_info *get_interface_by_index(unsigned int index);
struct interface_info *get_interface_by_name(const char *name);

int get_display_interface1(void);
int get_display_interface2(void);
void set_display_interface1(unsigned int value);
void set_display_interface2(unsigned int value);

/*
 * Consistent copy of one slot for readers on other threads (the bus
 * handlers): all fields come from one state of the record, never from two
 * passes. Returns 0, or -1 when index is not below INTERFACE_COUNT.
 */
int get_interface_snapshot(unsigned int index, struct interface_info *out);

/* Both display selections as they stood at one instant. */
void get_display_pair(int *first, int *second);

/*
 * Move each display selection that names slot from to slot to, in one step
 * against the setters, so a selection set meanwhile by a bus caller is kept.
 */
void move_display_interface(unsigned int from, unsigned int to);

/*
 * The sampler holds a slot's guard while it changes the slot's fields, and
 * get_interface_snapshot holds it while copying; nothing else is done under
 * it, so neither side ever waits on more than an in-memory copy.
 */
void interface_lock(const struct interface_info *slot);
void interface_unlock(const struct interface_info *slot);

#endif
