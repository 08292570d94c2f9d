#include "stats/interface_list.h"

#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "core/atomic_word.h"
#include "core/log.h"
#include "core/uci_conf.h"
#include "stats/history.h"
#include "stats/switch_stat.h"

/* Written only through the operations below, and in place by whoever holds a record's pointer. */
static struct interface_info interface_list[INTERFACE_COUNT];

/* The uci key naming each slot's interface, and the slots enabled from the start. */
static const char *const slot_uci[INTERFACE_COUNT] = {
	"interface.name.lan1", "interface.name.lan1", "", "interface.name.wlan0", "", "", "",
	"interface.name.wlan7", "", "interface.name.bridge", "", "",
};
#define SLOTS_ENABLED ((1u << SLOT_LAN_A) | (1u << SLOT_LAN_B) | (1u << SLOT_WIRED_SUM) | (1u << SLOT_BRIDGE))

/* The table starts zeroed, taking no room in the program file. */
void interface_list_seed(void)
{
	for (int i = 0; i < INTERFACE_COUNT; i++) {
		struct interface_info *slot = &interface_list[i];

		slot->index = (int8_t)i;
		slot->enable = (int8_t)((SLOTS_ENABLED >> i) & 1u);
		strncpy(slot->uci, slot_uci[i], sizeof(slot->uci));
	}
}

#define G PTHREAD_MUTEX_INITIALIZER
static pthread_mutex_t slot_guard[INTERFACE_COUNT] = { G, G, G, G, G, G, G, G, G, G, G, G };
#undef G

/*
 * Both selections live in one word (first in the low byte, second in the
 * next), so a reader sees them as a pair and a move off a disabled slot can
 * be done with one compare-and-swap instead of a test-then-store race.
 */
#define DISPLAY_SHIFT2 8
#define DISPLAY_MASK 0xffu

static atomic_word display_pair((unsigned int)SLOT_LAN_A | ((unsigned int)SLOT_WLAN_AP << DISPLAY_SHIFT2));

static pthread_mutex_t *guard_of(const struct interface_info *slot)
{
	return &slot_guard[slot - interface_list];
}

static void interface_lock(const struct interface_info *slot)
{
	pthread_mutex_lock(guard_of(slot));
}

static void interface_unlock(const struct interface_info *slot)
{
	pthread_mutex_unlock(guard_of(slot));
}

void interface_guard_lock(unsigned int index)
{
	pthread_mutex_lock(&slot_guard[index]);
}

void interface_guard_unlock(unsigned int index)
{
	pthread_mutex_unlock(&slot_guard[index]);
}

static void clear_counters(struct interface_info *slot)
{
	/* Every figure, the packet totals too: before start-up they are zero anyway. */
	interface_lock(slot);
	memset(&slot->tx_bytes, 0, sizeof(*slot) - offsetof(struct interface_info, tx_bytes));
	memset(slot->ifname, 0, sizeof(slot->ifname));
	interface_unlock(slot);
}

void lan_slot_name(int lan, char *name, unsigned int size)
{
	snprintf(name, size, "lan%d", lan);
}

static void name_lan_slot(int lan)
{
	struct interface_info *slot = get_interface_by_index((unsigned int)lan);

	if (slot)
		lan_slot_name(lan, slot->ifname, sizeof(slot->ifname));
}

int interface_list_init(void)
{
	for (int i = 0; i < INTERFACE_COUNT; i++) {
		struct interface_info *slot = &interface_list[i];

		clear_counters(slot);
		if (slot->uci[0])
			uci_get_conf(slot->uci, slot->ifname, 0);
	}
	name_lan_slot(l_ppmap[0]);
	name_lan_slot(l_ppmap[2]);
	return 0;
}

int interface_list_dump(void)
{
	for (int i = 0; i < INTERFACE_COUNT; i++) {
		struct interface_info s;

		get_interface_snapshot((unsigned int)i, &s);
		if (!s.enable)
			continue;
		log_debug("============================================================================================================================>\n\n");
		log_debug("index = %d, enable = %d, uci = %s, ifname = %s, tx_packets = %llu, rx_packets = %llu, tx_bytes = %llu, rx_bytess = %llu, tx_speed = %.2lf, rx_speed = %.2lf\n\n",
			  s.index, s.enable, s.uci, s.ifname,
			  (unsigned long long)s.tx_packets, (unsigned long long)s.rx_packets,
			  (unsigned long long)s.tx_bytes, (unsigned long long)s.rx_bytes,
			  s.tx_speed, s.rx_speed);
	}
	return 0;
}

struct interface_info *get_interface_by_index(unsigned int index)
{
	if (index >= INTERFACE_COUNT)
		return NULL;
	return &interface_list[index];
}

struct interface_info *get_interface_by_name(const char *name)
{
	if (!name)
		return NULL;
	/* Every line of each pass comes here: the first byte settles most slots. */
	for (int i = 0; i < INTERFACE_COUNT; i++) {
		const char *ifname = interface_list[i].ifname;

		if (ifname[0] == name[0] && strcmp(ifname, name) == 0)
			return &interface_list[i];
	}
	return NULL;
}

int get_interface_snapshot(unsigned int index, struct interface_info *out)
{
	struct interface_info *slot = get_interface_by_index(index);

	if (!slot || !out)
		return -1;
	interface_lock(slot);
	memcpy(out, slot, sizeof(*out));
	interface_unlock(slot);
	return 0;
}

void interface_store_counters(struct interface_info *slot, const struct interface_info *figures)
{
	/* Every field from tx_bytes on is a figure of the pass. */
	interface_lock(slot);
	memcpy(&slot->tx_bytes, &figures->tx_bytes, sizeof(*slot) - offsetof(struct interface_info, tx_bytes));
	history_sample(slot);
	interface_unlock(slot);
}

void interface_set_wired_sum(double tx_speed, double rx_speed)
{
	struct interface_info *total = &interface_list[SLOT_WIRED_SUM];

	interface_lock(total);
	total->tx_speed = tx_speed;
	total->rx_speed = rx_speed;
	history_sample(total);
	interface_unlock(total);
}

static void set_enable(struct interface_info *slot, int8_t enable)
{
	interface_lock(slot);
	slot->enable = enable;
	interface_unlock(slot);
}

void interface_select_wlan(unsigned int wlan)
{
	unsigned int other = wlan == SLOT_WLAN_AP ? SLOT_WLAN_STA : SLOT_WLAN_AP;

	if (wlan != SLOT_WLAN_AP && wlan != SLOT_WLAN_STA)
		return;
	set_enable(&interface_list[wlan], 1);
	set_enable(&interface_list[other], 0);
	move_display_interface(other, wlan);
}

int wlan_slot_of_mode(const char *mode)
{
	if (strcmp(mode, "ap") == 0)
		return SLOT_WLAN_AP;
	if (strcmp(mode, "client") == 0 || strcmp(mode, "wds") == 0)
		return SLOT_WLAN_STA;
	return -1;
}

int configured_wlan_slot(const char *caller)
{
	char mode[UCI_VALUE_SIZE];
	int wlan;

	/* A failed read has logged its own line and leaves the buffer empty. */
	memset(mode, 0, sizeof(mode));
	uci_get_conf("opmode.op.mode", mode, 0);
	wlan = wlan_slot_of_mode(mode);
	if (wlan < 0)
		log_as(LOG_LEVEL_ERROR, caller, "Unsupported wlan opmode\n");
	return wlan;
}

static int first_of(unsigned int pair)
{
	return (int)(pair & DISPLAY_MASK);
}

static int second_of(unsigned int pair)
{
	return (int)((pair >> DISPLAY_SHIFT2) & DISPLAY_MASK);
}

int get_display_interface1(void)
{
	return first_of(display_pair.load());
}

int get_display_interface2(void)
{
	return second_of(display_pair.load());
}

void get_display_pair(int *first, int *second)
{
	unsigned int pair = display_pair.load();

	if (first)
		*first = first_of(pair);
	if (second)
		*second = second_of(pair);
}

static void store_display(unsigned int value, unsigned int shift)
{
	unsigned int old = display_pair.load();

	if (value >= INTERFACE_COUNT)
		return;
	while (!display_pair.compare_exchange(old, (old & ~(DISPLAY_MASK << shift)) | (value << shift)))
		;
}

void set_display_interface1(unsigned int value)
{
	store_display(value, 0);
}

void set_display_interface2(unsigned int value)
{
	store_display(value, DISPLAY_SHIFT2);
}

static unsigned int moved(unsigned int pair, unsigned int shift, unsigned int from, unsigned int to)
{
	if (((pair >> shift) & DISPLAY_MASK) != from)
		return pair;
	return (pair & ~(DISPLAY_MASK << shift)) | (to << shift);
}

void move_display_interface(unsigned int from, unsigned int to)
{
	unsigned int old = display_pair.load();
	unsigned int next;

	if (to >= INTERFACE_COUNT)
		return;
	do {
		next = moved(moved(old, 0, from, to), DISPLAY_SHIFT2, from, to);
		if (next == old)
			return;
	} while (!display_pair.compare_exchange(old, next));
}
