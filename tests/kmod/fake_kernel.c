/*
 * The fake kernel the lumabar module object runs against: just the calls
 * the driver makes, each logged, with the misuse a real kernel would
 * punish recorded as a fault instead.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <linux/errno.h>
#include <linux/gpio.h>
#include <linux/io.h>
#include <linux/jiffies.h>
#include <linux/kernel.h>
#include <linux/mutex.h>
#include <linux/proc_fs.h>
#include <linux/timer.h>
#include <linux/uaccess.h>

#include "fake_kernel.h"

#define FK_ENOENT	2
#define FK_LINE_MAX	160
#define FK_LOG_MAX	4096
#define FK_PRINTK_MAX	64
#define FK_FAULT_MAX	64
#define FK_PROC_MAX	16
#define FK_HOOK_MAX	4
#define FK_TIMER_MAX	8

struct fk_lines {
	size_t n;
	size_t cap;
	char (*text)[FK_LINE_MAX];
};

static char fk_log_buf[FK_LOG_MAX][FK_LINE_MAX];
static char fk_printk_buf[FK_PRINTK_MAX][FK_LINE_MAX];
static char fk_fault_buf[FK_FAULT_MAX][FK_LINE_MAX];
static struct fk_lines fk_log_lines = { 0, FK_LOG_MAX, fk_log_buf };
static struct fk_lines fk_printk_lines = { 0, FK_PRINTK_MAX, fk_printk_buf };
static struct fk_lines fk_fault_lines = { 0, FK_FAULT_MAX, fk_fault_buf };

struct fk_gpio_line {
	int value;
	int requested;
	int output;
	int claimed;
	char label[32];
};
static struct fk_gpio_line fk_lines_state[FK_NR_GPIO];

static u32 fk_regs[FK_NR_REGS];
void __iomem *ath79_gpio_base;

volatile unsigned long jiffies;
static struct timer_list *fk_timer_list;
static int fk_delete_race;

static struct proc_dir_entry fk_proc[FK_PROC_MAX];
static char fk_proc_fail_name[32];
struct fk_hook {
	char path[32];
	void (*fn)(void *);
	void *arg;
};
static struct fk_hook fk_hooks[FK_HOOK_MAX];

/* User memory: only what the current write hands in. */
static const char *fk_user_base;
static unsigned long fk_user_len;
static unsigned long fk_user_max;

static void fk_add(struct fk_lines *l, const char *fmt, va_list ap)
{
	if (l->n >= l->cap) {
		fprintf(stderr, "fake kernel: line buffer full\n");
		abort();
	}
	vsnprintf(l->text[l->n++], FK_LINE_MAX, fmt, ap);
}

static void __attribute__((format(printf, 1, 2))) fk_log(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	fk_add(&fk_log_lines, fmt, ap);
	va_end(ap);
}

static void __attribute__((format(printf, 1, 2))) fk_fault(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	fk_add(&fk_fault_lines, fmt, ap);
	va_end(ap);
}

void fk_reset(void)
{
	unsigned i;

	fk_log_lines.n = 0;
	fk_printk_lines.n = 0;
	fk_fault_lines.n = 0;
	memset(fk_lines_state, 0, sizeof(fk_lines_state));
	for (i = 0; i < FK_NR_GPIO; i++)
		fk_lines_state[i].value = -1;
	for (i = 0; i < FK_NR_REGS; i++)
		fk_regs[i] = FK_REG_FILL;
	ath79_gpio_base = (void __iomem *)fk_regs;
	jiffies = INITIAL_JIFFIES;
	fk_timer_list = NULL;
	fk_delete_race = 0;
	memset(fk_proc, 0, sizeof(fk_proc));
	fk_proc_fail_name[0] = '\0';
	memset(fk_hooks, 0, sizeof(fk_hooks));
	fk_user_base = NULL;
	fk_user_len = 0;
	fk_user_max = 0;
}

size_t fk_log_count(void) { return fk_log_lines.n; }
const char *fk_log_line(size_t i) { return i < fk_log_lines.n ? fk_log_buf[i] : ""; }
void fk_log_clear(void) { fk_log_lines.n = 0; }
size_t fk_printk_count(void) { return fk_printk_lines.n; }
const char *fk_printk_line(size_t i) { return i < fk_printk_lines.n ? fk_printk_buf[i] : ""; }
size_t fk_fault_count(void) { return fk_fault_lines.n; }
const char *fk_fault_line(size_t i) { return i < fk_fault_lines.n ? fk_fault_buf[i] : ""; }

/* ---- printk ------------------------------------------------ */

int printk(const char *fmt, ...)
{
	char text[FK_LINE_MAX];
	size_t len;
	va_list ap;
	int n;

	va_start(ap, fmt);
	n = vsnprintf(text, sizeof(text), fmt, ap);
	va_end(ap);
	if (fk_printk_lines.n >= FK_PRINTK_MAX)
		abort();
	strcpy(fk_printk_buf[fk_printk_lines.n++], text);
	len = strlen(text);
	if (len && text[len - 1] == '\n')
		text[len - 1] = '\0';
	fk_log("printk %s", text);
	return n;
}

/* ---- GPIO --------------------------------------------------------- */

int gpio_request_one(unsigned gpio, unsigned long flags, const char *label)
{
	struct fk_gpio_line *l;

	fk_log("gpio_request_one %u %lu %s", gpio, flags, label);
	if (gpio >= FK_NR_GPIO)
		return -EINVAL;
	l = &fk_lines_state[gpio];
	if (l->requested || l->claimed)
		return -EBUSY;
	l->requested = 1;
	snprintf(l->label, sizeof(l->label), "%s", label);
	if (!(flags & GPIOF_DIR_IN)) {
		l->output = 1;
		l->value = (flags & GPIOF_INIT_HIGH) ? 1 : 0;
	}
	return 0;
}

void gpio_free(unsigned gpio)
{
	fk_log("gpio_free %u", gpio);
	if (gpio >= FK_NR_GPIO || !fk_lines_state[gpio].requested) {
		fk_fault("gpio_free of line %u, not requested", gpio);
		return;
	}
	fk_lines_state[gpio].requested = 0;
	fk_lines_state[gpio].label[0] = '\0';
}

void gpio_set_value(unsigned gpio, int value)
{
	fk_log("gpio_set_value %u %d", gpio, value);
	if (gpio >= FK_NR_GPIO || !fk_lines_state[gpio].requested) {
		fk_fault("gpio_set_value on line %u, not requested", gpio);
		return;
	}
	if (!fk_lines_state[gpio].output)
		fk_fault("gpio_set_value on input line %u", gpio);
	fk_lines_state[gpio].value = !!value;
}

int gpio_get_value(unsigned gpio)
{
	fk_log("gpio_get_value %u", gpio);
	if (gpio >= FK_NR_GPIO) {
		fk_fault("gpio_get_value on line %u", gpio);
		return 0;
	}
	return fk_lines_state[gpio].value > 0;
}

int fk_gpio_value(unsigned gpio) { return gpio < FK_NR_GPIO ? fk_lines_state[gpio].value : -1; }
int fk_gpio_requested(unsigned gpio) { return gpio < FK_NR_GPIO && fk_lines_state[gpio].requested; }
int fk_gpio_is_output(unsigned gpio) { return gpio < FK_NR_GPIO && fk_lines_state[gpio].output; }
const char *fk_gpio_label(unsigned gpio) { return gpio < FK_NR_GPIO ? fk_lines_state[gpio].label : ""; }

void fk_gpio_claim(unsigned gpio, const char *label)
{
	fk_lines_state[gpio].claimed = 1;
	snprintf(fk_lines_state[gpio].label, sizeof(fk_lines_state[gpio].label),
		 "%s", label);
}

int fk_gpio_requested_count(void)
{
	int i, n = 0;

	for (i = 0; i < FK_NR_GPIO; i++)
		n += fk_lines_state[i].requested;
	return n;
}

/* ---- registers ------------------------------------------------------ */

static long fk_reg_index(const volatile void *addr, const char *op)
{
	long off = (const volatile char *)addr - (const char *)fk_regs;

	if (off < 0 || off >= (long)sizeof(fk_regs) || (off & 3)) {
		fk_fault("%s outside the register block (offset %ld)", op, off);
		return -1;
	}
	return off / 4;
}

u32 __raw_readl(const volatile void __iomem *addr)
{
	long i = fk_reg_index(addr, "readl");

	if (i < 0)
		return 0;
	fk_log("readl 0x%02lx", i * 4);
	return fk_regs[i];
}

void __raw_writel(u32 value, volatile void __iomem *addr)
{
	long i = fk_reg_index(addr, "writel");

	if (i < 0)
		return;
	fk_log("writel 0x%02lx %08x", i * 4, value);
	fk_regs[i] = value;
}

uint32_t fk_reg(unsigned offset) { return fk_regs[offset / 4]; }

/* ---- jiffies and timers --------------------------------------------- */

unsigned long msecs_to_jiffies(const unsigned int m)
{
	if ((int)m < 0)
		return MAX_JIFFY_OFFSET;
	return (m + (1000 / HZ) - 1) / (1000 / HZ);
}

static void fk_timer_unlink(struct timer_list *timer)
{
	struct timer_list **p;

	for (p = &fk_timer_list; *p; p = &(*p)->fk_next) {
		if (*p == timer) {
			*p = timer->fk_next;
			break;
		}
	}
	timer->fk_next = NULL;
	timer->fk_pending = 0;
}

static void fk_timer_run(struct timer_list *timer)
{
	fk_timer_unlink(timer);
	timer->function(timer->data);
}

void init_timer_key(struct timer_list *timer, const char *name,
		    struct lock_class_key *key)
{
	fk_log("init_timer_key");
	if (timer->fk_pending)
		fk_fault("init_timer_key on a pending timer");
	timer->fk_next = NULL;
	timer->fk_pending = 0;
	timer->fk_init = 1;
}

/* ---- mutexes ---------------------------------------------------------- */

void mutex_lock(struct mutex *lock)
{
	if (lock->fk_held)
		fk_fault("mutex_lock of a mutex already held: deadlock");
	lock->fk_held = 1;
}

void mutex_unlock(struct mutex *lock)
{
	if (!lock->fk_held)
		fk_fault("mutex_unlock of a mutex not held");
	lock->fk_held = 0;
}

void add_timer(struct timer_list *timer)
{
	fk_log("add_timer %+ld", (long)(timer->expires - jiffies));
	if (!timer->fk_init)
		fk_fault("add_timer on an uninitialised timer");
	if (!timer->function)
		fk_fault("add_timer without a function");
	if (timer->fk_pending) {
		fk_fault("add_timer on a pending timer");
		return;
	}
	timer->fk_pending = 1;
	timer->fk_next = fk_timer_list;
	fk_timer_list = timer;
}

/*
 * With a delete race armed, the timer has just expired on another
 * processor and its function runs while the removal is under way.
 */
int del_timer(struct timer_list *timer)
{
	fk_log("del_timer");
	if (!timer->fk_init)
		fk_fault("del_timer on an uninitialised timer");
	if (fk_delete_race && timer->fk_pending) {
		fk_delete_race = 0;
		/* not pending when looked at; the function finishes after */
		fk_timer_run(timer);
		return 0;
	}
	if (!timer->fk_pending)
		return 0;
	fk_timer_unlink(timer);
	return 1;
}

int del_timer_sync(struct timer_list *timer)
{
	int was_pending;

	fk_log("del_timer_sync");
	if (!timer->fk_init)
		fk_fault("del_timer_sync on an uninitialised timer");
	if (fk_delete_race && timer->fk_pending) {
		fk_delete_race = 0;
		/* waits for the running function, then removes what it armed */
		fk_timer_run(timer);
	}
	was_pending = timer->fk_pending;
	if (was_pending)
		fk_timer_unlink(timer);
	return was_pending;
}

unsigned long fk_jiffies(void) { return jiffies; }
unsigned fk_hz(void) { return HZ; }

void fk_tick(unsigned n)
{
	struct timer_list *due[FK_TIMER_MAX], *t;
	int i, ndue;

	while (n--) {
		jiffies++;
		/* armed during this tick's functions: run at the next one */
		ndue = 0;
		for (t = fk_timer_list; t && ndue < FK_TIMER_MAX; t = t->fk_next) {
			if ((long)(jiffies - t->expires) >= 0)
				due[ndue++] = t;
		}
		for (i = 0; i < ndue; i++) {
			if (due[i]->fk_pending)
				fk_timer_run(due[i]);
		}
	}
}

int fk_timers_pending(void)
{
	struct timer_list *t;
	int n = 0;

	for (t = fk_timer_list; t; t = t->fk_next)
		n++;
	return n;
}

void fk_tick_during_next_delete(void) { fk_delete_race = 1; }

/* ---- procfs --------------------------------------------------------- */

static struct proc_dir_entry *fk_proc_find(const char *path)
{
	int i;

	for (i = 0; i < FK_PROC_MAX; i++) {
		if (fk_proc[i].fk_used && !strcmp(fk_proc[i].fk_name, path))
			return &fk_proc[i];
	}
	return NULL;
}

static int fk_proc_path(char *out, size_t size, const char *name,
			struct proc_dir_entry *parent)
{
	if (parent && !parent->fk_used) {
		fk_fault("proc parent of %s already removed", name);
		return -1;
	}
	if (parent)
		snprintf(out, size, "%s/%s", parent->fk_name, name);
	else
		snprintf(out, size, "%s", name);
	return 0;
}

static struct proc_dir_entry *fk_proc_add(const char *name, umode_t mode,
					  struct proc_dir_entry *parent)
{
	char path[32];
	int i;

	if (fk_proc_path(path, sizeof(path), name, parent))
		return NULL;
	if (!strcmp(name, fk_proc_fail_name))
		return NULL;
	if (fk_proc_find(path)) {
		fk_fault("proc entry %s already registered", path);
		return NULL;
	}
	for (i = 0; i < FK_PROC_MAX; i++) {
		struct proc_dir_entry *e = &fk_proc[i];

		if (e->fk_used)
			continue;
		memset(e, 0, sizeof(*e));
		e->fk_used = 1;
		e->name = name;
		e->mode = mode;
		e->parent = parent;
		snprintf(e->fk_name, sizeof(e->fk_name), "%s", path);
		return e;
	}
	return NULL;
}

struct proc_dir_entry *proc_mkdir(const char *name,
				  struct proc_dir_entry *parent)
{
	fk_log("proc_mkdir %s", name);
	return fk_proc_add(name, 0555, parent);
}

struct proc_dir_entry *create_proc_entry(const char *name, umode_t mode,
					 struct proc_dir_entry *parent)
{
	char path[32] = "?";

	fk_proc_path(path, sizeof(path), name, parent);
	fk_log("create_proc_entry %s %o", path, mode);
	return fk_proc_add(name, mode, parent);
}

void remove_proc_entry(const char *name, struct proc_dir_entry *parent)
{
	struct proc_dir_entry *e;
	char path[32];
	size_t len;
	int i;

	if (fk_proc_path(path, sizeof(path), name, parent))
		return;
	fk_log("remove_proc_entry %s", path);
	for (i = 0; i < FK_HOOK_MAX; i++) {
		struct fk_hook *h = &fk_hooks[i];

		if (h->fn && !strcmp(h->path, path)) {
			void (*fn)(void *) = h->fn;

			h->fn = NULL;
			fn(h->arg);
		}
	}
	e = fk_proc_find(path);
	if (!e) {
		fk_fault("remove_proc_entry of %s, not present", path);
		return;
	}
	len = strlen(path);
	for (i = 0; i < FK_PROC_MAX; i++) {
		if (fk_proc[i].fk_used && !strncmp(fk_proc[i].fk_name, path, len) &&
		    fk_proc[i].fk_name[len] == '/')
			fk_fault("removing %s while %s is in it", path,
				 fk_proc[i].fk_name);
	}
	e->fk_used = 0;
}

int fk_proc_exists(const char *path) { return fk_proc_find(path) != NULL; }

unsigned fk_proc_mode(const char *path)
{
	struct proc_dir_entry *e = fk_proc_find(path);

	return e ? e->mode : 0;
}

int fk_proc_count(void)
{
	int i, n = 0;

	for (i = 0; i < FK_PROC_MAX; i++)
		n += fk_proc[i].fk_used;
	return n;
}

void fk_proc_fail(const char *name)
{
	snprintf(fk_proc_fail_name, sizeof(fk_proc_fail_name), "%s", name);
}

static int fk_proc_do_write(const char *path, const char *buf,
			    unsigned long count)
{
	struct proc_dir_entry *e = fk_proc_find(path);
	int ret;

	if (!e)
		return -FK_ENOENT;
	if (!e->write_proc)
		return -EIO;
	ret = e->write_proc(NULL, buf, count, e->data);
	fk_user_base = NULL;
	fk_user_len = 0;
	return ret;
}

int fk_proc_write(const char *path, const void *buf, unsigned long count)
{
	fk_user_base = buf;
	fk_user_len = count;
	return fk_proc_do_write(path, buf, count);
}

int fk_proc_write_unmapped(const char *path, unsigned long count)
{
	static const char not_mapped[16] = "1";

	fk_user_base = NULL;
	fk_user_len = 0;
	return fk_proc_do_write(path, not_mapped, count);
}

int fk_proc_read(const char *path, char *page, size_t size, int *start_set,
		 int *eof_set)
{
	struct proc_dir_entry *e = fk_proc_find(path);
	char *const start_mark = page + size;
	char *start = start_mark;
	int eof = -7;
	int ret;

	if (!e)
		return -FK_ENOENT;
	if (!e->read_proc)
		return -EIO;
	memset(page, 0x5a, size);
	ret = e->read_proc(page, &start, 0, (int)size, &eof, e->data);
	*start_set = start != start_mark;
	*eof_set = eof != -7;
	return ret;
}

void fk_proc_on_remove(const char *path, void (*fn)(void *), void *arg)
{
	int i;

	for (i = 0; i < FK_HOOK_MAX; i++) {
		if (!fk_hooks[i].fn) {
			strncpy(fk_hooks[i].path, path, sizeof(fk_hooks[i].path) - 1);
			fk_hooks[i].fn = fn;
			fk_hooks[i].arg = arg;
			return;
		}
	}
	abort();
}

/* ---- user copies ---------------------------------------------------- */

unsigned long copy_from_user(void *to, const void __user *from,
			     unsigned long n)
{
	const char *p = from;
	unsigned long ok = 0;

	if (n > fk_user_max)
		fk_user_max = n;
	if (fk_user_base && p >= fk_user_base &&
	    p <= fk_user_base + fk_user_len) {
		unsigned long room = (unsigned long)(fk_user_base + fk_user_len - p);

		ok = n < room ? n : room;
	}
	memcpy(to, from, ok);
	/* the kernel zeroes what it could not copy */
	memset((char *)to + ok, 0, n - ok);
	return n - ok;
}

unsigned long fk_user_max_copy(void) { return fk_user_max; }

/* ---- module unload ---------------------------------------------------- */

void fk_module_gone(void)
{
	int i;

	while (fk_timer_list) {
		fk_fault("timer pending when the module's code went away");
		fk_timer_unlink(fk_timer_list);
	}
	for (i = 0; i < FK_PROC_MAX; i++) {
		if (fk_proc[i].fk_used) {
			fk_fault("proc entry %s left behind", fk_proc[i].fk_name);
			fk_proc[i].fk_used = 0;
		}
	}
	for (i = 0; i < FK_NR_GPIO; i++) {
		if (fk_lines_state[i].requested) {
			fk_fault("line %d still requested", i);
			fk_lines_state[i].requested = 0;
		}
	}
	memset(fk_hooks, 0, sizeof(fk_hooks));
}
