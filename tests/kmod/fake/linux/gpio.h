/* Fake kernel: the legacy GPIO calls, on 64 lines kept in memory. */
#ifndef FAKE_LINUX_GPIO_H
#define FAKE_LINUX_GPIO_H
#include <linux/types.h>

struct gpio {
	unsigned gpio;
	unsigned long flags;
	const char *label;
};

#define GPIOF_DIR_OUT		(0 << 0)
#define GPIOF_DIR_IN		(1 << 0)
#define GPIOF_INIT_LOW		(0 << 1)
#define GPIOF_INIT_HIGH		(1 << 1)
#define GPIOF_OUT_INIT_LOW	(GPIOF_DIR_OUT | GPIOF_INIT_LOW)
#define GPIOF_OUT_INIT_HIGH	(GPIOF_DIR_OUT | GPIOF_INIT_HIGH)

int gpio_request_one(unsigned gpio, unsigned long flags, const char *label);
void gpio_free(unsigned gpio);
void gpio_set_value(unsigned gpio, int value);
int gpio_get_value(unsigned gpio);
#endif
