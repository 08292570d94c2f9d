// SPDX-License-Identifier: GPL-2.0
/*
 * Board stand-in for hosts and tests: what the router's SoC support code
 * gives lumabar. A GPIO controller at base 0 with 32 lines whose values
 * live in memory, the exported ath79_gpio_base pointing at a register
 * block owned here, and a debugfs view under board_standin/:
 *
 *   values  line values as one hex word (bit n = line n)
 *   lines   one row per line: number, direction, value, owner's label
 *   regs    one row per register word: byte offset, value
 *   events  every line write with its time ("ns line value jiffies");
 *           writing "clear" empties it, any other write adds a marker
 *           row with line 255, so a test can time writes against it
 *   hz      the kernel's HZ, to turn milliseconds into jiffies
 *
 * jiffies are what lumabar programs its timer in: intervals counted in
 * them do not shrink when a late tick under an emulator stamps its
 * wall-clock time late.
 */
#include <linux/module.h>
#include <linux/debugfs.h>
#include <linux/gpio/driver.h>
#include <linux/jiffies.h>
#include <linux/ktime.h>
#include <linux/seq_file.h>
#include <linux/spinlock.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#define STANDIN_NGPIO		32
#define STANDIN_NREGS		64
/* Bit 1 is clear, so a set bit 1 shows; every byte is non-zero. */
#define STANDIN_REG_FILL	0xa5a5a5a5u
#define STANDIN_EVENTS		2048
#define STANDIN_MARK		255

struct standin_event {
	u64 ns;
	unsigned long jif;
	u8 line;
	u8 value;
};

static u32 standin_regs[STANDIN_NREGS];
void __iomem *ath79_gpio_base;
EXPORT_SYMBOL(ath79_gpio_base);

/* Line writes come from process and softirq context alike. */
static DEFINE_SPINLOCK(standin_lock);
static unsigned long standin_values;
static unsigned long standin_outputs;
static struct standin_event standin_events[STANDIN_EVENTS];
static unsigned int standin_nevents;
static unsigned int standin_dropped;

static struct dentry *standin_dir;

static void standin_record(unsigned int line, int value)
{
	struct standin_event *ev;

	if (standin_nevents >= STANDIN_EVENTS) {
		standin_dropped++;
		return;
	}
	ev = &standin_events[standin_nevents++];
	ev->ns = ktime_get_ns();
	ev->jif = jiffies;
	ev->line = line;
	ev->value = value;
}

static void standin_write_line(unsigned int off, int value)
{
	unsigned long flags;

	spin_lock_irqsave(&standin_lock, flags);
	if (value)
		__set_bit(off, &standin_values);
	else
		__clear_bit(off, &standin_values);
	standin_record(off, !!value);
	spin_unlock_irqrestore(&standin_lock, flags);
}

static int standin_get(struct gpio_chip *chip, unsigned int off)
{
	return test_bit(off, &standin_values);
}

static void standin_set(struct gpio_chip *chip, unsigned int off, int value)
{
	standin_write_line(off, value);
}

static int standin_direction_output(struct gpio_chip *chip, unsigned int off,
				    int value)
{
	set_bit(off, &standin_outputs);
	standin_write_line(off, value);
	return 0;
}

static int standin_direction_input(struct gpio_chip *chip, unsigned int off)
{
	clear_bit(off, &standin_outputs);
	return 0;
}

static int standin_get_direction(struct gpio_chip *chip, unsigned int off)
{
	return test_bit(off, &standin_outputs) ? GPIO_LINE_DIRECTION_OUT :
						 GPIO_LINE_DIRECTION_IN;
}

static struct gpio_chip standin_chip = {
	.label			= "board_standin",
	.owner			= THIS_MODULE,
	.base			= 0,
	.ngpio			= STANDIN_NGPIO,
	.can_sleep		= false,
	.get			= standin_get,
	.set			= standin_set,
	.direction_output	= standin_direction_output,
	.direction_input	= standin_direction_input,
	.get_direction		= standin_get_direction,
};

static int values_show(struct seq_file *m, void *v)
{
	seq_printf(m, "%08lx\n", READ_ONCE(standin_values) & 0xffffffffUL);
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(values);

static int lines_show(struct seq_file *m, void *v)
{
	const char *label;
	unsigned int off;

	for (off = 0; off < STANDIN_NGPIO; off++) {
		label = gpiochip_is_requested(&standin_chip, off);
		seq_printf(m, "%2u %s %d %s\n", off,
			   test_bit(off, &standin_outputs) ? "out" : "in ",
			   test_bit(off, &standin_values) ? 1 : 0,
			   label ? label : "-");
	}
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(lines);

static int regs_show(struct seq_file *m, void *v)
{
	unsigned int i;

	for (i = 0; i < STANDIN_NREGS; i++)
		seq_printf(m, "0x%02x %08x\n", i * 4, READ_ONCE(standin_regs[i]));
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(regs);

static int events_show(struct seq_file *m, void *v)
{
	unsigned long flags;
	unsigned int i;

	spin_lock_irqsave(&standin_lock, flags);
	for (i = 0; i < standin_nevents; i++)
		seq_printf(m, "%llu %u %u %lu\n", standin_events[i].ns,
			   standin_events[i].line, standin_events[i].value,
			   standin_events[i].jif);
	if (standin_dropped)
		seq_printf(m, "dropped %u\n", standin_dropped);
	spin_unlock_irqrestore(&standin_lock, flags);
	return 0;
}

static int hz_show(struct seq_file *m, void *v)
{
	seq_printf(m, "%d\n", HZ);
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(hz);

static int events_open(struct inode *inode, struct file *file)
{
	return single_open_size(file, events_show, NULL,
				(STANDIN_EVENTS + 1) * 48);
}

static ssize_t events_write(struct file *file, const char __user *buf,
			    size_t count, loff_t *ppos)
{
	char cmd[8] = "";
	unsigned long flags;

	if (copy_from_user(cmd, buf, min(count, sizeof(cmd) - 1)))
		return -EFAULT;

	spin_lock_irqsave(&standin_lock, flags);
	if (!strncmp(cmd, "clear", 5)) {
		standin_nevents = 0;
		standin_dropped = 0;
	} else {
		standin_record(STANDIN_MARK, 0);
	}
	spin_unlock_irqrestore(&standin_lock, flags);
	return count;
}

static const struct file_operations events_fops = {
	.owner		= THIS_MODULE,
	.open		= events_open,
	.read		= seq_read,
	.write		= events_write,
	.llseek		= seq_lseek,
	.release	= single_release,
};

static int __init standin_init(void)
{
	unsigned int i;
	int ret;

	for (i = 0; i < STANDIN_NREGS; i++)
		standin_regs[i] = STANDIN_REG_FILL;
	ath79_gpio_base = (void __force __iomem *)standin_regs;

	ret = gpiochip_add_data(&standin_chip, NULL);
	if (ret) {
		ath79_gpio_base = NULL;
		return ret;
	}

	standin_dir = debugfs_create_dir("board_standin", NULL);
	debugfs_create_file("values", 0444, standin_dir, NULL, &values_fops);
	debugfs_create_file("lines", 0444, standin_dir, NULL, &lines_fops);
	debugfs_create_file("regs", 0444, standin_dir, NULL, &regs_fops);
	debugfs_create_file("events", 0644, standin_dir, NULL, &events_fops);
	debugfs_create_file("hz", 0444, standin_dir, NULL, &hz_fops);
	return 0;
}

static void __exit standin_exit(void)
{
	debugfs_remove_recursive(standin_dir);
	gpiochip_remove(&standin_chip);
	ath79_gpio_base = NULL;
}

module_init(standin_init);
module_exit(standin_exit);

MODULE_LICENSE("GPL v2");
MODULE_DESCRIPTION("Board stand-in: GPIO lines and register block for lumabar");
