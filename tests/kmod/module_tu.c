/*
 * The driver's own source, built as the router's kernel builds it (the
 * fake headers say 3.3), plus one hook: a test that needs a bad table
 * changes an entry before calling init_module.
 */
#include "lumabar.c"

void fk_module_set_gpio(int entry, unsigned int gpio)
{
	rssi_led_gpios[entry].gpio = gpio;
}
