// lumabar's own source, loaded into the fake kernel: load and unload, the
// level file, the blink timer and its state machine, bad writes.
#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_kernel.h"

namespace {

const char kLed[] = "simple_config/rssi_led";
const char kBlink[] = "simple_config/rssi_led_blink";
const unsigned kLines[4] = {3, 14, 13, 11};  // LED 1..4
const int kEINVAL = 22, kEFAULT = 14, kEBUSY = 16;

std::vector<std::string> Log(const char* prefix = "") {
  std::vector<std::string> out;
  for (size_t i = 0; i < fk_log_count(); i++) {
    std::string l = fk_log_line(i);
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  }
  return out;
}

// Line writes since the log was last cleared, "line=value".
std::vector<std::string> LineWrites() {
  std::vector<std::string> out;
  for (const std::string& l : Log("gpio_set_value ")) {
    std::string s = l.substr(sizeof("gpio_set_value ") - 1);
    out.push_back(s.replace(s.find(' '), 1, "="));
  }
  return out;
}

std::vector<std::string> TimerCalls() {
  std::vector<std::string> out;
  for (const std::string& l : Log())
    if (l.find("timer") != std::string::npos) out.push_back(l);
  return out;
}

// LED 1..4: '1' lit (line at 0), '0' dark, '?' never driven.
std::string Bar() {
  std::string s;
  for (unsigned g : kLines) {
    int v = fk_gpio_value(g);
    s += v < 0 ? '?' : v == 0 ? '1' : '0';
  }
  return s;
}

int Write(const char* path, const std::string& text) {
  return fk_proc_write(path, text.data(), text.size());
}

std::string Read(const char* path) {
  char page[4096];
  int start_set, eof_set;
  int n = fk_proc_read(path, page, sizeof(page), &start_set, &eof_set);
  EXPECT_FALSE(start_set) << path;
  EXPECT_FALSE(eof_set) << path;
  if (n < 0) return "error " + std::to_string(n);
  return std::string(page, n);
}

std::vector<std::string> Printks() {
  std::vector<std::string> out;
  for (size_t i = 0; i < fk_printk_count(); i++) out.push_back(fk_printk_line(i));
  return out;
}

using Lines = std::vector<std::string>;

class Lumabar : public ::testing::Test {
 protected:
  void SetUp() override { fk_reset(); }

  void TearDown() override {
    if (handle_) Unload();
    for (size_t i = 0; i < fk_fault_count(); i++) ADD_FAILURE() << "kernel fault: " << fk_fault_line(i);
  }

  // dlopen gives the module fresh statics, as a real load does.
  void Open() {
    ASSERT_EQ(nullptr, handle_);
    handle_ = dlopen(LUMABAR_FAKE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle_) << dlerror();
    init_ = reinterpret_cast<int (*)()>(dlsym(handle_, "init_module"));
    cleanup_ = reinterpret_cast<void (*)()>(dlsym(handle_, "cleanup_module"));
    ASSERT_TRUE(init_ && cleanup_);
  }

  int Init() {
    int ret = init_();
    if (ret != 0) Close();  // a failed load never reaches cleanup_module
    return ret;
  }

  void Load() {
    Open();
    ASSERT_EQ(0, Init());
    fk_log_clear();
  }

  void Close() {
    fk_module_gone();
    dlclose(handle_);
    handle_ = nullptr;
    EXPECT_EQ(nullptr, dlopen(LUMABAR_FAKE_MODULE, RTLD_NOW | RTLD_NOLOAD)) << "module object stayed mapped";
  }

  void Unload() {
    cleanup_();
    EXPECT_EQ(0, fk_timers_pending()) << "timer left pending by cleanup_module";
    Close();
  }

  template <typename T>
  T Sym(const char* name) {
    return reinterpret_cast<T>(dlsym(handle_, name));
  }

  void* handle_ = nullptr;
  int (*init_)() = nullptr;
  void (*cleanup_)() = nullptr;
};

// ---- load ---------------------------------------------------------------

TEST_F(Lumabar, LoadRequestsSetsUpRegistersDarkensAndCreatesFiles) {
  Open();
  ASSERT_EQ(0, Init());
  EXPECT_EQ((Lines{
                "gpio_request_one 3 0 rssi1_led",
                "gpio_request_one 14 0 rssi2_led",
                "gpio_request_one 13 0 rssi3_led",
                "gpio_request_one 11 0 rssi4_led",
                "readl 0x2c", "writel 0x2c 00a5a5a5", "readl 0x2c",
                "readl 0x38", "writel 0x38 a500a5a5", "readl 0x38",
                "readl 0x38", "writel 0x38 a50000a5", "readl 0x38",
                "readl 0x34", "writel 0x34 00a5a5a5", "readl 0x34",
                "readl 0x6c", "writel 0x6c a5a5a5a7", "readl 0x6c",
                "gpio_set_value 3 1", "gpio_set_value 14 1",
                "gpio_set_value 13 1", "gpio_set_value 11 1",
                "proc_mkdir simple_config",
                "create_proc_entry simple_config/rssi_led 644",
                "create_proc_entry simple_config/rssi_led_blink 644",
                "printk <6>create proc entry for rssi led success",
            }),
            Log());
  EXPECT_EQ((Lines{"<6>create proc entry for rssi led success\n"}), Printks());

  // Every other register word keeps its bits.
  for (unsigned off = 0; off < FK_NR_REGS * 4; off += 4) {
    uint32_t want = off == 0x2c || off == 0x34 ? 0x00a5a5a5u
                    : off == 0x38              ? 0xa50000a5u
                    : off == 0x6c              ? 0xa5a5a5a7u
                                               : FK_REG_FILL;
    EXPECT_EQ(want, fk_reg(off)) << "register 0x" << std::hex << off;
  }
  for (unsigned g : kLines) {
    EXPECT_TRUE(fk_gpio_requested(g));
    EXPECT_TRUE(fk_gpio_is_output(g));
  }
  EXPECT_EQ(4, fk_gpio_requested_count());
  EXPECT_STREQ("rssi3_led", fk_gpio_label(13));
  EXPECT_EQ("0000", Bar());
  EXPECT_EQ(3, fk_proc_count());
  EXPECT_EQ(0644u, fk_proc_mode(kLed));
  EXPECT_EQ(0644u, fk_proc_mode(kBlink));

  EXPECT_EQ("0\n", Read(kLed));
  EXPECT_EQ("0\n", Read(kBlink));
  EXPECT_STREQ("GPL v2", Sym<const char*>("fk_modinfo_license"));
  EXPECT_STREQ("GPIO RSSI LED driver", Sym<const char*>("fk_modinfo_description"));
}

TEST_F(Lumabar, TableGpioOf64OrMoreFailsBeforeAnyRequest) {
  struct Case {
    int entry;
    unsigned gpio;
    const char* message;
  } cases[] = {
      {2, 64, "<3>invalid gpio 64\n"},
      {0, 200, "<3>invalid gpio 200\n"},
      // compared unsigned, printed as an int
      {3, 0xffffffffu, "<3>invalid gpio -1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gpio);
    fk_reset();
    Open();
    Sym<void (*)(int, unsigned)>("fk_module_set_gpio")(c.entry, c.gpio);
    EXPECT_EQ(-kEINVAL, Init());
    EXPECT_EQ((Lines{c.message}), Printks());
    EXPECT_EQ(Lines{}, Log("gpio_"));
    EXPECT_EQ(Lines{}, Log("readl"));
    EXPECT_EQ(Lines{}, Log("writel"));
    EXPECT_EQ(0, fk_proc_count());
  }
  fk_reset();
  Open();
  Sym<void (*)(int, unsigned)>("fk_module_set_gpio")(1, 63);
  EXPECT_EQ(0, Init());
  EXPECT_TRUE(fk_gpio_requested(63));
}

TEST_F(Lumabar, RequestFailureReturnsItsCodeAndTouchesNothing) {
  fk_gpio_claim(13, "someone");
  Open();
  EXPECT_EQ(-kEBUSY, Init());
  EXPECT_EQ((Lines{"<3>failed to request gpios\n"}), Printks());
  EXPECT_EQ(Lines{}, Log("readl"));
  EXPECT_EQ(Lines{}, Log("writel"));
  EXPECT_EQ(Lines{}, Log("gpio_set_value"));
  EXPECT_EQ(Lines{}, Log("proc_mkdir"));
  EXPECT_EQ(0, fk_gpio_requested_count());
  for (unsigned off = 0; off < FK_NR_REGS * 4; off += 4) EXPECT_EQ(FK_REG_FILL, fk_reg(off));
}

// A missing directory or file does not fail the load; unload removes only
// what exists (removing a missing entry is a fault) and frees the lines.
TEST_F(Lumabar, ProcCreationFailuresLeaveTheModuleLoadedWithoutThoseFiles) {
  struct Case {
    const char* fail;
    int entries;
  } cases[] = {{"simple_config", 0}, {"rssi_led", 1}, {"rssi_led_blink", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail);
    fk_reset();
    fk_proc_fail(c.fail);
    Open();
    EXPECT_EQ(0, Init());
    EXPECT_EQ((Lines{"<6>create proc entry for rssi led success\n"}), Printks());
    EXPECT_EQ(c.entries, fk_proc_count());
    // after the failing step nothing more is created
    EXPECT_EQ(static_cast<size_t>(c.entries), Log("create_proc_entry").size());
    EXPECT_EQ("0000", Bar());
    if (c.entries == 2) {
      EXPECT_EQ(2, Write(kLed, "2\n"));
      EXPECT_EQ("1100", Bar());
    }
    fk_log_clear();
    Unload();
    EXPECT_EQ(static_cast<size_t>(c.entries), Log("remove_proc_entry").size());
    EXPECT_EQ(0, fk_gpio_requested_count());
  }
}

// ---- level file -----------------------------------------------------------

TEST_F(Lumabar, LevelWritesSwitchOnDownwardThenOffUpward) {
  Load();
  struct Case {
    const char* text;
    Lines writes;
    const char* bar;
  } cases[] = {
      {"3\n", {"13=0", "14=0", "3=0", "11=1"}, "1110"},
      {"4", {"11=0", "13=0", "14=0", "3=0"}, "1111"},
      {"1", {"3=0", "14=1", "13=1", "11=1"}, "1000"},
      {"2", {"14=0", "3=0", "13=1", "11=1"}, "1100"},
      {"0", {"3=1", "14=1", "13=1", "11=1"}, "0000"},
      // all four lines are written even when already right
      {"0", {"3=1", "14=1", "13=1", "11=1"}, "0000"},
      {" 2", {"14=0", "3=0", "13=1", "11=1"}, "1100"},
      {"4abc", {"11=0", "13=0", "14=0", "3=0"}, "1111"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    fk_log_clear();
    std::string text = c.text;
    EXPECT_EQ(static_cast<int>(text.size()), Write(kLed, text));
    EXPECT_EQ(c.writes, LineWrites());
    EXPECT_EQ(c.bar, Bar());
    std::string count(1, static_cast<char>('0' + std::count(c.bar, c.bar + 4, '1')));
    EXPECT_EQ(count + "\n", Read(kLed));
  }
}

TEST_F(Lumabar, LevelReadCountsLinesNotTheLastWrite) {
  Load();
  ASSERT_EQ(1, Write(kLed, "3"));
  fk_log_clear();
  EXPECT_EQ("3\n", Read(kLed));
  EXPECT_EQ((Lines{"gpio_get_value 3", "gpio_get_value 14", "gpio_get_value 13", "gpio_get_value 11"}), Log());
}

TEST_F(Lumabar, IgnoredAndUnparsableLevelWritesChangeNothing) {
  Load();
  ASSERT_EQ(1, Write(kLed, "2"));
  fk_log_clear();
  for (const char* t : {"5", "100", "-1", "2147483647", "-2147483648"}) {
    EXPECT_EQ(static_cast<int>(strlen(t)), Write(kLed, t)) << t;
  }
  for (const char* t : {"abc", "", "-", " \n", "x3"}) {
    EXPECT_EQ(-kEINVAL, Write(kLed, t)) << '"' << t << '"';
  }
  EXPECT_EQ(Lines{}, Log("gpio_set_value"));
  EXPECT_EQ("1100", Bar());
}

// A number beyond an int is invalid input, not wrapped into range: on
// the 32-bit router "4294967297" would otherwise be level 1.
TEST_F(Lumabar, NumbersBeyondAnIntAreRefusedOnBothFiles) {
  Load();
  ASSERT_EQ(1, Write(kLed, "2"));
  fk_log_clear();
  for (const char* t : {"4294967297", "2147483648", "-2147483649", "99999999999999", "4294967296\n",
                        // the number runs past the copied head of a longer write
                        "0000000000000004", "              12"}) {
    EXPECT_EQ(-kEINVAL, Write(kLed, t)) << t;
    EXPECT_EQ(-kEINVAL, Write(kBlink, t)) << t;
  }
  EXPECT_EQ(Lines{}, Log("gpio_set_value"));
  EXPECT_EQ(Lines{}, TimerCalls());
  EXPECT_EQ("1100", Bar());
  EXPECT_EQ("0\n", Read(kBlink));

  // the extremes of an int are numbers like any other
  for (const char* t : {"2147483647", "-2147483648", "-0"}) {
    EXPECT_EQ(static_cast<int>(strlen(t)), Write(kBlink, t)) << t;
    EXPECT_EQ(std::string(t == std::string("-0") ? "0" : t) + "\n", Read(kBlink));
  }
}

// ---- user copies -----------------------------------------------------------

TEST_F(Lumabar, WritesOfAnySizeCopyABoundedHeadFromTheWrittenBytesOnly) {
  Load();
  // 4 KiB and 1 MiB: the head is parsed, the count is returned.
  for (size_t size : {size_t{4096}, size_t{1} << 20}) {
    std::string big(size, 'x');
    big[0] = '3';
    EXPECT_EQ(static_cast<int>(size), Write(kLed, big));
    EXPECT_EQ("1110", Bar());
    EXPECT_EQ(static_cast<int>(size), Write(kBlink, big.replace(0, 1, "0")));
    big[0] = 'x';
    EXPECT_EQ(-kEINVAL, Write(kLed, big));
    EXPECT_EQ(-kEINVAL, Write(kBlink, big));
  }
  EXPECT_LE(fk_user_max_copy(), 64u);
  EXPECT_GT(fk_user_max_copy(), 10u) << "a ten-digit number must fit";

  // The user memory is exactly the written bytes: copying past them fails.
  for (size_t n = 0; n <= 40; n++) {
    std::string text(n, ' ');
    if (n) text[n - 1] = '1';
    int want = n == 0 || n > fk_user_max_copy() ? -kEINVAL : static_cast<int>(n);
    EXPECT_EQ(want, Write(kLed, text)) << n << " bytes";
  }
  EXPECT_EQ(4, Write(kLed, "2\n\n\n"));
  EXPECT_EQ("1100", Bar());
  // a NUL ends the number like any other byte, also in a long write
  EXPECT_EQ(20, Write(kLed, std::string("3\0xxxxxxxxxxxxxxxxxx", 20)));
  EXPECT_EQ("1110", Bar());
}

TEST_F(Lumabar, WriteFromABadUserPointerFailsWithTheCopyError) {
  Load();
  ASSERT_EQ(1, Write(kLed, "4"));
  fk_log_clear();
  EXPECT_EQ(-kEFAULT, fk_proc_write_unmapped(kLed, 4));
  EXPECT_EQ(-kEFAULT, fk_proc_write_unmapped(kBlink, 4));
  EXPECT_EQ(-kEFAULT, fk_proc_write_unmapped(kBlink, 1 << 20));
  EXPECT_EQ(Lines{}, LineWrites());
  EXPECT_EQ(Lines{}, TimerCalls());
  EXPECT_EQ("4\n", Read(kLed));
  EXPECT_EQ("0\n", Read(kBlink));
}

// ---- blinking ------------------------------------------------------------------

// Ticks of a period: msecs_to_jiffies rounds up, at whatever HZ.
unsigned long Jiffies(unsigned long ms) { return (ms * fk_hz() + 999) / 1000; }

// Jiffies from now of the timer's expiry, from the last "add_timer +N".
unsigned long long ArmedIn() {
  Lines calls = Log("add_timer ");
  if (calls.empty()) return 0;
  return std::stoull(calls.back().substr(sizeof("add_timer +") - 1));
}

const Lines kAllOn = {"3=0", "14=0", "13=0", "11=0"};
const Lines kAllOff = {"3=1", "14=1", "13=1", "11=1"};

class Blink : public Lumabar {
 protected:
  // The bar's line writes during the next n jiffies.
  Lines TickWrites(unsigned n) {
    fk_log_clear();
    fk_tick(n);
    return LineWrites();
  }
  // Jiffies until the next line write, at most limit.
  unsigned long UntilToggle(unsigned long limit = 1000) {
    for (unsigned long j = 1; j <= limit; j++) {
      fk_log_clear();
      fk_tick(1);
      if (!LineWrites().empty()) return j;
    }
    return 0;
  }
};

TEST_F(Blink, StartTakesTheBarAndTheFirstTickLightsAtOnce) {
  Load();
  ASSERT_EQ(1, Write(kLed, "2"));
  fk_log_clear();
  EXPECT_EQ(3, Write(kBlink, "500"));
  EXPECT_EQ((Lines{"init_timer_key", "add_timer +0"}), Log());
  EXPECT_EQ("500\n", Read(kBlink));

  // level writes are taken and ignored now; bad ones still fail
  fk_log_clear();
  EXPECT_EQ(2, Write(kLed, "4\n"));
  EXPECT_EQ(-kEINVAL, Write(kLed, "abc"));
  EXPECT_EQ(Lines{}, LineWrites());

  // each tick re-arms one period on, counted from itself
  const unsigned long period = Jiffies(500);
  EXPECT_EQ(kAllOn, TickWrites(1));
  EXPECT_EQ((Lines{"add_timer +" + std::to_string(period)}), TimerCalls());
  EXPECT_EQ("4\n", Read(kLed));
  EXPECT_EQ(Lines{}, TickWrites(period - 1));
  EXPECT_EQ(kAllOff, TickWrites(1));
  EXPECT_EQ("0\n", Read(kLed));
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(period, UntilToggle());
    EXPECT_EQ(i % 2 ? "0000" : "1111", Bar());
  }
  EXPECT_EQ(1, fk_timers_pending());
}

TEST_F(Blink, PeriodRoundsUpToWholeJiffiesAndNegativeOnesBlinkToo) {
  Load();
  ASSERT_EQ(2, Write(kBlink, "15"));
  EXPECT_EQ(1u, UntilToggle());
  EXPECT_EQ(Jiffies(15), UntilToggle());
  ASSERT_EQ(1, Write(kBlink, "0"));

  // No range check: shown as written, the timer takes it unsigned, so
  // the bar stays lit further ahead than any positive period would.
  ASSERT_EQ(2, Write(kBlink, "-1"));
  EXPECT_EQ("-1\n", Read(kBlink));
  EXPECT_EQ(kAllOn, TickWrites(1));
  EXPECT_GT(ArmedIn(), Jiffies(INT_MAX));
  EXPECT_EQ(0u, UntilToggle(1000));
  EXPECT_EQ(1, Write(kBlink, "0"));
  EXPECT_EQ("0000", Bar());
}

TEST_F(Blink, SamePeriodAgainNeitherRestartsNorRetimes) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "500"));
  fk_tick(1);
  fk_tick(20);
  fk_log_clear();
  EXPECT_EQ(4, Write(kBlink, "500\n"));
  EXPECT_EQ(Lines{}, Log());
  EXPECT_EQ(30u, UntilToggle());
  EXPECT_EQ("0000", Bar());
}

TEST_F(Blink, NewPeriodKeepsThePendingExpiry) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "500"));
  fk_tick(1);
  fk_tick(20);
  fk_log_clear();
  EXPECT_EQ(3, Write(kBlink, "200"));
  EXPECT_EQ(Lines{}, Log());
  EXPECT_EQ("200\n", Read(kBlink));
  EXPECT_EQ(30u, UntilToggle());
  EXPECT_EQ(20u, UntilToggle());
  EXPECT_EQ(20u, UntilToggle());
}

TEST_F(Blink, StopOpensTheGateRemovesTheTimerAndDarkens) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "500"));
  fk_tick(1);
  ASSERT_EQ("1111", Bar());
  ASSERT_EQ(1, Write(kLed, "2"));  // ignored, and not applied later
  fk_log_clear();
  EXPECT_EQ(2, Write(kBlink, "0\n"));
  EXPECT_EQ((Lines{"del_timer_sync", "gpio_set_value 3 1", "gpio_set_value 14 1", "gpio_set_value 13 1",
                   "gpio_set_value 11 1"}),
            Log());
  EXPECT_EQ(0, fk_timers_pending());
  EXPECT_EQ("0\n", Read(kBlink));
  EXPECT_EQ("0\n", Read(kLed));
  EXPECT_EQ(Lines{}, TickWrites(200));

  EXPECT_EQ(1, Write(kLed, "3"));
  EXPECT_EQ("1110", Bar());
  // stopping again, or stopping when idle, does nothing
  fk_log_clear();
  EXPECT_EQ(1, Write(kBlink, "0"));
  EXPECT_EQ(Lines{}, Log());
}

// On an SMP kernel the tick may be running while the stop removes the
// timer; it re-arms itself, so only a synchronous removal ends the series.
TEST_F(Blink, StopWhileTheTickRunsOnAnotherProcessorLeavesNoTimer) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "100"));
  fk_tick(1);
  fk_tick(5);
  fk_tick_during_next_delete();
  EXPECT_EQ(1, Write(kBlink, "0"));
  EXPECT_EQ(0, fk_timers_pending());
  EXPECT_EQ("0000", Bar());
  EXPECT_EQ(Lines{}, TickWrites(100));
}

TEST_F(Blink, UnparsableBlinkWritesChangeNothing) {
  Load();
  for (const char* t : {"x", "", "abc"}) EXPECT_EQ(-kEINVAL, Write(kBlink, t)) << '"' << t << '"';
  EXPECT_EQ(Lines{}, TimerCalls());
  ASSERT_EQ(3, Write(kBlink, "300"));
  fk_tick(1);
  fk_tick(10);
  fk_log_clear();
  for (const char* t : {"x", "", "-"}) EXPECT_EQ(-kEINVAL, Write(kBlink, t)) << '"' << t << '"';
  EXPECT_EQ(Lines{}, Log());
  EXPECT_EQ("300\n", Read(kBlink));
  EXPECT_EQ(20u, UntilToggle());
}

// The phase flag survives a stop: a stop after a lighting tick makes the
// restart begin with a darkening one.
TEST_F(Blink, PhaseIsCarriedOverAStop) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "300"));
  fk_tick(1);  // lights
  ASSERT_EQ("1111", Bar());
  ASSERT_EQ(1, Write(kBlink, "0"));
  ASSERT_EQ(3, Write(kBlink, "300"));
  EXPECT_EQ(kAllOff, TickWrites(1));  // due at once, but darkens
  EXPECT_EQ(30u, UntilToggle());
  EXPECT_EQ("1111", Bar());

  fk_tick(30);  // darkens
  ASSERT_EQ("0000", Bar());
  ASSERT_EQ(1, Write(kBlink, "0"));
  ASSERT_EQ(3, Write(kBlink, "300"));
  EXPECT_EQ(kAllOn, TickWrites(1));  // lights at once
}

// ---- unload ------------------------------------------------------------------------

TEST_F(Blink, UnloadWhileBlinkingDarkensAndLeavesNoTimer) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "500"));
  fk_tick(1);
  ASSERT_EQ("1111", Bar());
  fk_log_clear();
  Unload();
  Lines log = Log();
  ASSERT_GE(log.size(), 12u);
  EXPECT_EQ((Lines{"del_timer_sync", "gpio_set_value 3 1", "gpio_set_value 14 1", "gpio_set_value 13 1",
                   "gpio_set_value 11 1", "remove_proc_entry simple_config/rssi_led_blink",
                   "remove_proc_entry simple_config/rssi_led", "remove_proc_entry simple_config"}),
            Lines(log.begin(), log.begin() + 8));
  EXPECT_EQ((Lines{"gpio_free 3", "gpio_free 14", "gpio_free 13", "gpio_free 11"}), Log("gpio_free"));
  EXPECT_EQ(Lines{}, Log("gpio_set_value 3 0"));
  EXPECT_EQ("0000", Bar());
}

TEST_F(Blink, UnloadWhileTheTickRunsOnAnotherProcessorLeavesNoTimer) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "100"));
  fk_tick(1);
  fk_tick_during_next_delete();
  Unload();  // checks that nothing is pending when the code goes
  EXPECT_EQ("0000", Bar());
}

void StartBlinking(void*) {
  EXPECT_EQ(3, Write(kBlink, "100"));
  fk_tick(1);
  EXPECT_EQ("1111", Bar());
}

// A writer still inside the blink file while unload runs may start the
// timer after unload's first removal; it must not outlive the module.
TEST_F(Blink, UnloadRacingABlinkStartLeavesNoTimer) {
  Load();
  fk_proc_on_remove(kBlink, StartBlinking, nullptr);
  Unload();
  EXPECT_EQ(0, fk_gpio_requested_count());
  EXPECT_EQ("0000", Bar());
}

TEST_F(Lumabar, UnloadAtALevelLeavesTheLinesAlone) {
  Load();
  ASSERT_EQ(1, Write(kLed, "3"));
  fk_log_clear();
  Unload();
  EXPECT_EQ((Lines{"remove_proc_entry simple_config/rssi_led_blink", "remove_proc_entry simple_config/rssi_led",
                   "remove_proc_entry simple_config", "gpio_free 3", "gpio_free 14", "gpio_free 13",
                   "gpio_free 11"}),
            Log());
  EXPECT_EQ("1110", Bar());
}

TEST_F(Lumabar, UnloadAfterBlinkingStoppedLeavesTheLinesAlone) {
  Load();
  ASSERT_EQ(3, Write(kBlink, "200"));
  fk_tick(1);
  ASSERT_EQ(1, Write(kBlink, "0"));
  ASSERT_EQ(1, Write(kLed, "1"));
  fk_log_clear();
  Unload();
  EXPECT_EQ(Lines{}, Log("gpio_set_value"));
  EXPECT_EQ("1000", Bar());
}

}  // namespace
