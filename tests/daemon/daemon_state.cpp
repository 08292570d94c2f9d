#include "daemon_state.h"

#include <string.h>

#include <regex>

#include "core/log.h"
#include "stats/history.h"
#include "stats/switch_stat.h"

namespace {
struct pristine_table {
	struct interface_info slots[INTERFACE_COUNT];
	pristine_table()
	{
		for (unsigned int i = 0; i < INTERFACE_COUNT; i++)
			slots[i] = slot_at(i);
	}
};
const pristine_table pristine;
}

struct interface_info &slot_at(unsigned int i)
{
	return *get_interface_by_index(i);
}

void reset_daemon_state()
{
	for (unsigned int i = 0; i < INTERFACE_COUNT; i++) {
		slot_at(i) = pristine.slots[i];
		if (struct slot_history *h = get_history_by_index(i))
			memset(h, 0, sizeof(*h));
	}
	set_display_interface1(0);
	set_display_interface2(3);
	memset(l_ppmap, 0, sizeof(l_ppmap));
	memset(switch_stat_data, 0, sizeof(switch_stat_data));
	set_log_level(1);
}

struct timespec at(long s, long ns)
{
	struct timespec ts;

	ts.tv_sec = s;
	ts.tv_nsec = ns;
	return ts;
}

std::string without_lines(const std::string &text)
{
	static const std::regex line_no("\\(([0-9]+)\\) : ");

	return std::regex_replace(text, line_no, "(N) : ");
}
