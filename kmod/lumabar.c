// SPDX-License-Identifier: GPL-2.0
/*
 * lumabar - four active-low GPIO LEDs shown as a signal-strength bar.
 *
 * /proc/simple_config/rssi_led takes a level from 0 to 4 and lights that
 * many LEDs; /proc/simple_config/rssi_led_blink takes a period in
 * milliseconds and flashes the whole bar (0 stops). The bar's state lives
 * only in the GPIO lines.
 *
 * Built for a uniprocessor, non-preemptive kernel, but safe on SMP too:
 * timer removal is synchronous, so that no tick survives a stop or the
 * module's unload, and blink writes are serialised, so that two writers
 * cannot both start the timer.
 */
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/kernel.h>
#include <linux/ctype.h>
#include <linux/errno.h>
#include <linux/gpio.h>
#include <linux/io.h>
#include <linux/jiffies.h>
#include <linux/proc_fs.h>
#include <linux/timer.h>
#include <linux/uaccess.h>

#include "lumabar_compat.h"

#define RSSI_LED_NUM		4

/* The SoC has 64 GPIO lines at most; its function registers cover them. */
#define RSSI_GPIO_LIMIT		64

/*
 * Longest write text taken from user space: an int with sign and a few
 * blanks. Longer writes are accepted when their number ends in the head.
 */
#define RSSI_WRITE_MAX		15

/* Per-line function select fields: one byte per GPIO, four per word. */
#define GPIO_FUNC_REG(g)	(0x2c + 4 * ((g) / 4))
#define GPIO_FUNC_MASK(g)	(0xffu << (8 * ((g) % 4)))
#define GPIO_FUNC2_REG		0x6c
#define GPIO_FUNC2_BIT		0x2u

/* Entry n-1 drives LED n; LED 1 lights first. Active low. */
static struct gpio rssi_led_gpios[RSSI_LED_NUM] = {
	{ 3,  GPIOF_OUT_INIT_LOW, "rssi1_led" },
	{ 14, GPIOF_OUT_INIT_LOW, "rssi2_led" },
	{ 13, GPIOF_OUT_INIT_LOW, "rssi3_led" },
	{ 11, GPIOF_OUT_INIT_LOW, "rssi4_led" },
};

/* Cleared while blinking owns the bar: level writes are then ignored. */
static int enable_lit_rssi = 1;
/* Blink period in ms; non-zero exactly while the blink timer runs. */
static int blink;
/* 1: the next tick darkens the bar. Kept across blinking spells. */
static int blink_rssi_led_flag;
static struct timer_list rssi_led_blink_timer;
/* Held by blink writes around their test and change of the timer state. */
static DEFINE_MUTEX(rssi_led_blink_lock);

static struct proc_dir_entry *simple_config_entry;
static struct proc_dir_entry *rssi_led_entry;
static struct proc_dir_entry *rssi_led_blink_entry;

/* Called from the blink timer too: must not sleep. */
static int set_rssi_led(int led, int on)
{
	if (led < 1 || led > RSSI_LED_NUM)
		return 0;

	gpio_set_value(rssi_led_gpios[led - 1].gpio, on == 1 ? 0 : 1);
	return 0;
}

static void rssi_led_bar(int on)
{
	int led;

	for (led = 1; led <= RSSI_LED_NUM; led++)
		set_rssi_led(led, on);
}

/*
 * One int as sscanf's "%d" reads it: blanks skipped, an optional minus,
 * digits up to the first other character. A value beyond an int is
 * refused rather than wrapped, and so is a number that reaches the end
 * of a head cut from a longer write, since it may go on past it.
 */
static int rssi_parse_int(const char *text, size_t len, bool cut, int *val)
{
	const char *s = text;
	unsigned int limit = INT_MAX;
	unsigned int v = 0;
	bool neg = false;

	while (isspace(*s))
		s++;
	if (*s == '-') {
		neg = true;
		limit = (unsigned int)INT_MAX + 1;
		s++;
	}
	if (!isdigit(*s))
		return -EINVAL;

	for (; isdigit(*s); s++) {
		unsigned int d = *s - '0';

		if (v > (limit - d) / 10)
			return -EINVAL;
		v = v * 10 + d;
	}
	if (cut && s == text + len)
		return -EINVAL;

	/* -v as an int without overflow when v is INT_MAX + 1 */
	*val = neg ? -(int)(v - 1) - 1 : (int)v;
	return 0;
}

/*
 * Parse the head of a proc write as one decimal int. At most
 * RSSI_WRITE_MAX bytes are copied, whatever the write's length.
 */
static int rssi_parse_write(const char __user *buffer, unsigned long count,
			    int *val)
{
	char text[RSSI_WRITE_MAX + 1];
	unsigned long len = min_t(unsigned long, count, RSSI_WRITE_MAX);

	if (copy_from_user(text, buffer, len))
		return -EFAULT;
	text[len] = '\0';

	return rssi_parse_int(text, len, count > len, val);
}

static int rssi_led_write(struct file *file, const char __user *buffer,
			  unsigned long count, void *data)
{
	int level = 0;
	int led, ret;

	ret = rssi_parse_write(buffer, count, &level);
	if (ret)
		return ret;

	if (!enable_lit_rssi)
		return count;
	if ((unsigned int)level > RSSI_LED_NUM)
		return count;

	for (led = level; led >= 1; led--)
		set_rssi_led(led, 1);
	for (led = level + 1; led <= RSSI_LED_NUM; led++)
		set_rssi_led(led, 0);
	return count;
}

static int rssi_led_read(char *page, char **start, off_t off, int count,
			 int *eof, void *data)
{
	int lit = 0;
	int i;

	for (i = 0; i < RSSI_LED_NUM; i++) {
		if (gpio_get_value(rssi_led_gpios[i].gpio) == 0)
			lit++;
	}
	return sprintf(page, "%d\n", lit);
}

static void rssi_led_blink_timer_fn(LUMABAR_TIMER_ARG data)
{
	rssi_led_bar(blink_rssi_led_flag == 1 ? 0 : 1);
	blink_rssi_led_flag = 1 - blink_rssi_led_flag;

	/* Counted from this tick, so a late tick shifts the later ones. */
	rssi_led_blink_timer.expires = jiffies + msecs_to_jiffies(blink);
	add_timer(&rssi_led_blink_timer);
}

/* Caller holds rssi_led_blink_lock. */
static void rssi_led_blink_set(int period)
{
	if (period == blink)
		return;

	if (period == 0) {
		/* Gate opens first: a tick landing now is undone below. */
		enable_lit_rssi = 1;
		lumabar_timer_delete_sync(&rssi_led_blink_timer);
		rssi_led_bar(0);
		blink = 0;
		return;
	}

	if (blink == 0) {
		enable_lit_rssi = 0;
		lumabar_timer_init(&rssi_led_blink_timer,
				   rssi_led_blink_timer_fn);
		/* blink still holds 0: the first tick is due at once. */
		rssi_led_blink_timer.expires = jiffies + msecs_to_jiffies(blink);
		add_timer(&rssi_led_blink_timer);
	}
	/* A new period while blinking takes effect from the next re-arm. */
	blink = period;
}

static int rssi_led_blink_write(struct file *file, const char __user *buffer,
				unsigned long count, void *data)
{
	int period = 0;
	int ret;

	ret = rssi_parse_write(buffer, count, &period);
	if (ret)
		return ret;

	mutex_lock(&rssi_led_blink_lock);
	rssi_led_blink_set(period);
	mutex_unlock(&rssi_led_blink_lock);
	return count;
}

static int rssi_led_blink_read(char *page, char **start, off_t off, int count,
			       int *eof, void *data)
{
	return sprintf(page, "%d\n", blink);
}

LUMABAR_PROC_FILE(rssi_led_file, rssi_led_read, rssi_led_write);
LUMABAR_PROC_FILE(rssi_led_blink_file, rssi_led_blink_read,
		  rssi_led_blink_write);

/* Hand the four lines to the GPIO block; set the shared output enable. */
static void rssi_led_setup_regs(void)
{
	void __iomem *reg;
	unsigned int g;
	int i;

	for (i = 0; i < RSSI_LED_NUM; i++) {
		g = rssi_led_gpios[i].gpio;
		reg = ath79_gpio_base + GPIO_FUNC_REG(g);
		__raw_writel(__raw_readl(reg) & ~GPIO_FUNC_MASK(g), reg);
		/* read back to flush the posted write */
		(void)__raw_readl(reg);
	}

	reg = ath79_gpio_base + GPIO_FUNC2_REG;
	__raw_writel(__raw_readl(reg) | GPIO_FUNC2_BIT, reg);
	(void)__raw_readl(reg);
}

/*
 * What gpio_request_array() did, which newer kernels dropped: each line
 * an output driven low, all or none.
 */
static int rssi_led_request_lines(void)
{
	int i, ret;

	for (i = 0; i < RSSI_LED_NUM; i++) {
		ret = gpio_request_one(rssi_led_gpios[i].gpio,
				       rssi_led_gpios[i].flags,
				       rssi_led_gpios[i].label);
		if (ret)
			goto unwind;
	}
	return 0;

unwind:
	while (i--)
		gpio_free(rssi_led_gpios[i].gpio);
	return ret;
}

static void rssi_led_free_lines(void)
{
	int i;

	for (i = 0; i < RSSI_LED_NUM; i++)
		gpio_free(rssi_led_gpios[i].gpio);
}

/* A missing directory or file is not fatal: the module runs without it. */
static void rssi_led_create_proc(void)
{
	simple_config_entry = NULL;
	rssi_led_entry = NULL;
	rssi_led_blink_entry = NULL;

	simple_config_entry = proc_mkdir("simple_config", NULL);
	if (!simple_config_entry)
		return;

	rssi_led_entry = lumabar_proc_create("rssi_led", 0644,
					     simple_config_entry,
					     &rssi_led_file);
	if (!rssi_led_entry)
		return;

	rssi_led_blink_entry = lumabar_proc_create("rssi_led_blink", 0644,
						   simple_config_entry,
						   &rssi_led_blink_file);
}

int init_module(void)
{
	int ret;
	int i;

	/* Refuse a bad table before anything is requested or touched. */
	for (i = 0; i < RSSI_LED_NUM; i++) {
		if (rssi_led_gpios[i].gpio >= RSSI_GPIO_LIMIT) {
			printk(KERN_ERR "invalid gpio %d\n",
			       (int)rssi_led_gpios[i].gpio);
			return -EINVAL;
		}
	}

	/* Each line comes up as an output driven low: lit. */
	ret = rssi_led_request_lines();
	if (ret < 0) {
		printk(KERN_ERR "failed to request gpios\n");
		return ret;
	}

	rssi_led_setup_regs();
	rssi_led_bar(0);
	rssi_led_create_proc();

	printk(KERN_INFO "create proc entry for rssi led success\n");
	return ret;
}

void cleanup_module(void)
{
	if (blink) {
		lumabar_timer_delete_sync(&rssi_led_blink_timer);
		rssi_led_bar(0);
	}

	if (rssi_led_blink_entry) {
		remove_proc_entry("rssi_led_blink", simple_config_entry);
		rssi_led_blink_entry = NULL;
	}
	if (rssi_led_entry) {
		remove_proc_entry("rssi_led", simple_config_entry);
		rssi_led_entry = NULL;
	}
	if (simple_config_entry) {
		remove_proc_entry("simple_config", NULL);
		simple_config_entry = NULL;
	}

	/*
	 * A blink write that raced the steps above may have armed the timer
	 * again; with the files gone none can follow, so this removal is
	 * final. The timer is set up only once blinking has started.
	 */
	if (rssi_led_blink_timer.function &&
	    lumabar_timer_delete_sync(&rssi_led_blink_timer))
		rssi_led_bar(0);

	rssi_led_free_lines();
}

MODULE_LICENSE("GPL v2");
MODULE_DESCRIPTION("GPIO RSSI LED driver");
