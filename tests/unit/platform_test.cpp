// Platform layer and output hooks.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "io/clock.h"
#include "io/environment.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/runtime_error.h"
#include "tests/unit/output_capture.h"

using namespace vyr;

namespace {
}  // namespace

TEST(PlatformTest, WritersEncodeEveryUnitWidthAsUtf8WithLf) {
    test::OutputCapture cap;
    const uint8_t latin[] = {'a', 0xE9};
    platform::write_text(latin, sizeof latin, 1, true);
    const uint16_t bmp[] = {0x20AC, 'x'};
    platform::write_text(bmp, sizeof bmp, 2, false);
    const uint32_t wide[] = {0x1F600, 0x1B};
    platform::write_text(wide, sizeof wide, 4, true);
    EXPECT_EQ(cap.take(), "a\xC3\xA9\n\xE2\x82\xAC" "x\xF0\x9F\x98\x80\x1B\n");
}

TEST(PlatformTest, LongTextCrossesTheBatchBoundary) {
    test::OutputCapture cap;
    std::u32string text(5000, U'\u00E9');
    platform::write_text(text.data(), text.size() * 4, 4, false);
    std::string out = cap.take();
    ASSERT_EQ(out.size(), 10000u);
    EXPECT_EQ(out.substr(9998), "\xC3\xA9");
}

TEST(PlatformTest, TerminalGetsUtf8Too) {
    int master, slave;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    int saved = platform::output_fd();
    platform::set_output_fd(slave);
    const uint16_t text[] = {0x3A9, '!'};
    platform::write_text(text, sizeof text, 2, false);
    platform::set_output_fd(saved);
    char buf[16] = {};
    ssize_t n = read(master, buf, sizeof buf);
    close(slave);
    close(master);
    EXPECT_EQ(std::string(buf, size_t(n)), "\xCE\xA9!");
}

TEST(PlatformTest, RawAllocationList) {
    size_t before = platform::allocation_count();
    void* a = platform::allocate(10);
    void* b = platform::allocate_zeroed(20);
    EXPECT_EQ(static_cast<unsigned char*>(b)[19], 0);
    EXPECT_EQ(platform::allocation_count(), before + 2);
    b = platform::reallocate(b, 4000);
    EXPECT_EQ(platform::allocation_count(), before + 2);
    EXPECT_EQ(platform::reallocate(a, 0), nullptr);
    EXPECT_EQ(platform::allocation_count(), before + 1);
    platform::release(a);  // twice: ignored
    int not_ours;
    platform::release(&not_ours);
    EXPECT_EQ(platform::allocation_count(), before + 1);
    platform::release(b);
    EXPECT_EQ(platform::allocation_count(), before);
}

TEST(PlatformTest, TypedPrintFormats) {
    EXPECT_EQ(platform::format_item(3.0), "3");
    EXPECT_EQ(platform::format_item(true), "true");
    EXPECT_EQ(platform::format_item(-12), "-12");
    EXPECT_EQ(platform::format_item(0.1f), "0.1");
    EXPECT_EQ(platform::format_item(platform::PrintItem::hex_word(0xBEEF)), "0000BEEF");
}

TEST(PlatformTest, ZoneBits) {
    EXPECT_EQ(clock::pack_zone(0), 0u);
    EXPECT_EQ(clock::pack_zone(-330), ((0x10u | 5u) << 2) + 2);  // 5:30 behind
    EXPECT_EQ(clock::pack_zone(345), (5u << 2) + 3);              // 5:45 ahead
    EXPECT_EQ(clock::pack_zone(60), 4u);
    uint32_t d = clock::date_now(true);
    EXPECT_GE(d >> 17, 2024u);
    EXPECT_EQ(d & 0x7F, 0u);
}

TEST(PlatformTest, AngleReduction) {
    EXPECT_NEAR(platform::angle_to_radians(450, 1), M_PI / 2, 1e-12);
    EXPECT_NEAR(platform::angle_to_radians(135, 2), M_PI / 4, 1e-12);   // sine folds into [-90, 90]
    EXPECT_NEAR(platform::angle_to_radians(135, 0), -M_PI / 4, 1e-12);  // tangent shifts by 180
}

TEST(PlatformTest, EnvironmentAndDirectory) {
    std::string v = "x=1";
    ASSERT_TRUE(environment::set("VYR_TEST_VAR", &v));
    std::string out;
    ASSERT_TRUE(environment::get("VYR_TEST_VAR", out));
    EXPECT_EQ(out, v);
    environment::set("VYR_TEST_VAR", nullptr);
    EXPECT_FALSE(environment::get("VYR_TEST_VAR", out));
    EXPECT_FALSE(platform::get_current_dir().empty());
}

namespace {
int calls[3];
void hook_a(const Cell*, bool) { ++calls[0]; }
void hook_b(const Cell*, bool) { ++calls[1]; }
}  // namespace

TEST(PrintHooksTest, GrowKeepOrderAndRemoveFirstOnly) {
    hooks::print_hooks_init();
    EXPECT_EQ(hooks::print_hooks().count, 1u);
    EXPECT_EQ(hooks::print_hooks().capacity, 5u);
    hooks::add_print_hook(hook_a, nullptr);
    hooks::add_print_hook(hook_b, nullptr);
    hooks::add_print_hook(hook_a, nullptr);
    hooks::add_print_hook(hook_b, nullptr);
    hooks::add_print_hook(hook_a, nullptr);  // the sixth
    EXPECT_EQ(hooks::print_hooks().count, 6u);
    EXPECT_EQ(hooks::print_hooks().capacity, 10u);
    EXPECT_EQ(hooks::print_hooks().entries[0], &hooks::console_print_hook);
    EXPECT_EQ(hooks::print_hooks().entries[5], &hook_a);

    hooks::remove_print_hook(hook_a, nullptr);
    EXPECT_EQ(hooks::print_hooks().count, 5u);
    EXPECT_EQ(hooks::print_hooks().entries[1], &hook_b);
    EXPECT_EQ(hooks::print_hooks().entries[2], &hook_a);
    hooks::print_hooks_init();
}

// A process that leaves the terminal in raw mode and ends must hand the
// terminal back as it found it.
TEST(PlatformTest, EndingTheProcessRestoresTheTerminal) {
    int master, slave;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    struct termios before {};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(slave, STDIN_FILENO);
        platform::io_init();
        struct termios raw = before;
        cfmakeraw(&raw);
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        runtime_error_quit(0, 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    struct termios after {};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    close(master);
    close(slave);
}
