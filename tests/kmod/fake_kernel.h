/*
 * Test-side controls of the fake kernel that the lumabar module object is
 * loaded into: what it logs, its GPIO lines, register block, clock,
 * timers, proc entries and user memory, and ways to make calls fail.
 */
#ifndef FAKE_KERNEL_H
#define FAKE_KERNEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FK_NR_GPIO	64
#define FK_NR_REGS	64
#define FK_REG_FILL	0xa5a5a5a5u

/* A fresh boot: lines undriven and free, registers FK_REG_FILL,
 * jiffies at the boot value, no proc entries, timers, logs or faults. */
void fk_reset(void);

/* Every kernel call the module makes, one line each, in order:
 * "gpio_request_one 3 0 rssi1_led", "gpio_set_value 3 1",
 * "gpio_get_value 3", "gpio_free 3", "readl 0x2c", "writel 0x2c 00a5a5a5",
 * "proc_mkdir simple_config", "create_proc_entry simple_config/rssi_led 644",
 * "remove_proc_entry simple_config/rssi_led", "init_timer_key",
 * "add_timer +N" (jiffies from now), "del_timer", "del_timer_sync",
 * "printk <text>". */
size_t fk_log_count(void);
const char *fk_log_line(size_t i);
void fk_log_clear(void);

/* Whole printk texts, newline included. */
size_t fk_printk_count(void);
const char *fk_printk_line(size_t i);

/* Misuse the real kernel would punish (BUG, oops, corruption or a
 * warning): timer added twice, line driven without being requested,
 * missing proc entry removed, register outside the block, ... */
size_t fk_fault_count(void);
const char *fk_fault_line(size_t i);

/* GPIO lines: value -1 means never driven. */
int fk_gpio_value(unsigned gpio);
int fk_gpio_requested(unsigned gpio);
int fk_gpio_is_output(unsigned gpio);
const char *fk_gpio_label(unsigned gpio);
/* Someone else holds the line: requests of it fail with -EBUSY. */
void fk_gpio_claim(unsigned gpio, const char *label);
int fk_gpio_requested_count(void);

/* The SoC register block behind ath79_gpio_base, by byte offset. */
uint32_t fk_reg(unsigned offset);

/* Clock and timers. */
unsigned long fk_jiffies(void);
/* The kernel's HZ: jiffies per second. */
unsigned fk_hz(void);
/* Advance n jiffies; at each, run the timers that are due. */
void fk_tick(unsigned n);
int fk_timers_pending(void);
/* The next removal of a pending timer finds its function already
 * running on another processor: del_timer_sync waits for it to finish,
 * del_timer does not. */
void fk_tick_during_next_delete(void);

/* Proc entries by path ("simple_config", "simple_config/rssi_led"). */
int fk_proc_exists(const char *path);
unsigned fk_proc_mode(const char *path);
int fk_proc_count(void);
/* Creating an entry of this name fails (NULL). */
void fk_proc_fail(const char *name);
/* write(2) of count bytes from buf: the user memory is exactly those. */
int fk_proc_write(const char *path, const void *buf, unsigned long count);
/* A write whose buffer is not mapped. */
int fk_proc_write_unmapped(const char *path, unsigned long count);
/* Call read_proc with a fresh page; *start_set and *eof_set tell
 * whether the callback touched *start and *eof. */
int fk_proc_read(const char *path, char *page, size_t size,
		 int *start_set, int *eof_set);
/* Run fn(arg) just before this entry is removed, as a writer still
 * inside the file would before the removal completes. */
void fk_proc_on_remove(const char *path, void (*fn)(void *), void *arg);

/* The module's code is about to go away (after cleanup_module, or after
 * a failed init_module): a timer still pending, a proc entry still
 * present or a line still held is a fault. All are dropped. */
void fk_module_gone(void);

/* Largest single copy_from_user the module asked for. */
unsigned long fk_user_max_copy(void);

#ifdef __cplusplus
}
#endif

#endif /* FAKE_KERNEL_H */
