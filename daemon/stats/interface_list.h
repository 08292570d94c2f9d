#ifndef VELOXD_INTERFACE_LIST_H
#define VELOXD_INTERFACE_LIST_H

#include <stdint.h>
#include <sys/time.h>

#define INTERFACE_COUNT 12
#define IFNAME_SIZE 64
#define UCI_KEY_SIZE 64

/* What the slots with a fixed role hold; a slot's number is its identifier on the bus. */
enum interface_slot {
	SLOT_LAN_A = 0,		/* first wired LAN port, named after the port map */
	SLOT_LAN_B = 1,		/* second wired LAN port */
	SLOT_WIRED_SUM = 2,	/* speeds of both wired ports added up */
	SLOT_WLAN_AP = 3,	/* wireless interface in mode "ap" */
	SLOT_WLAN_STA = 7,	/* wireless interface in modes "client" and "wds" */
	SLOT_BRIDGE = 9,
};

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

/*
 * Number each slot and give it its uci key and its enable bit: the table as
 * the program starts, before anything else looks at it.
 */
void interface_list_seed(void);
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

/*
 * The guard of slot index (below INTERFACE_COUNT), for what is kept beside
 * its record: the slot's history is written and copied under it too.
 */
void interface_guard_lock(unsigned int index);
void interface_guard_unlock(unsigned int index);

/* Both display selections as they stood at one instant. */
void get_display_pair(int *first, int *second);

/*
 * Move each display selection that names slot from to slot to, in one step
 * against the setters, so a selection set meanwhile by a bus caller is kept.
 */
void move_display_interface(unsigned int from, unsigned int to);

/*
 * The writes of the sampler thread. Each holds the slot's guard while it
 * changes the slot, as get_interface_snapshot does while copying, so a
 * reader never sees half of one update.
 */

/*
 * Store a sampling pass's figures of slot: totals, the previous ones, speeds
 * and times; the slot's history takes them as its sample of the pass.
 */
void interface_store_counters(struct interface_info *slot, const struct interface_info *figures);

/* The speeds of the wired sum slot, and its sample of the pass. */
void interface_set_wired_sum(double tx_speed, double rx_speed);

/*
 * Count the wireless slot wlan (SLOT_WLAN_AP or SLOT_WLAN_STA), stop
 * counting the other one, and move display selections off the one stopped.
 */
void interface_select_wlan(unsigned int wlan);

/* The wireless slot of an operating mode ("ap", "client", "wds"), or -1 for any other. */
int wlan_slot_of_mode(const char *mode);

/*
 * The wireless slot of the operating mode in configuration ("opmode.op.mode"),
 * read afresh; or -1, after an error line in the name of caller.
 */
int configured_wlan_slot(const char *caller);

/* Name of the wired slot of LAN number lan, as the sampler finds it again. */
void lan_slot_name(int lan, char *name, unsigned int size);

#endif
