// The process's own matters without a toolkit: the host's arguments, its window and the place the
// instance lock is scoped to, why no display can be tried, the one failure line, and the lock in
// the user's private runtime directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <thread>

#include "core/HostArguments.h"
#include "system/Environment.h"
#include "system/Failure.h"
#include "system/RuntimeDirectoryLock.h"
#include "system/Watchdog.h"

namespace digitmosaic {
namespace {

using namespace std::chrono_literals;

// The words of the text; '' stands for an empty one.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word == "''" ? "" : word);
    return words;
}

// Clears what says where the display is, then sets the given "NAME=value"s.
void Environment(const std::string& variables) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM",
                             "XSCREENSAVER_WINDOW"})
        unsetenv(name);
    for (const std::string& v : Words(variables))
        setenv(v.substr(0, v.find('=')).c_str(), v.substr(v.find('=') + 1).c_str(), 1);
}

// X window ids: decimal, or hexadecimal after "0x" or "0X"; 29 bits at most, and not 0 (None).
TEST(HostWindow, IdsAreDecimalOrHexadecimalOf29BitsAndNotZero) {
    for (const char* twelve : {"12", "0xc", "0XC", "0x000000000C", "0000000012"})
        EXPECT_EQ(ParseWindowId(twelve), 12U) << twelve;
    EXPECT_EQ(ParseWindowId("0x1fffffff"), 0x1FFFFFFFU);
    EXPECT_EQ(ParseWindowId("536870911"), 536870911U);
    for (const char* none : {"0x20000000", "536870912", "0", "0x0", "0x", "", "12ab", "x12", "-12",
                             " 12", "0x0000000000C", "00000000012", "18446744073709551628"})
        EXPECT_EQ(ParseWindowId(none), std::nullopt) << '"' << none << '"';  // the last: 2^64+12
}

// After exactly "/s", a window id and a root flag are taken once each, the argument wins over
// XSCREENSAVER_WINDOW, and the scope tells the host's windows and the root apart, never the
// display's spellings (the lock lives on the server, however DISPLAY spells it).
TEST(HostWindow, TheHostsArgumentsAndEnvironmentGiveTheWindowAndTheInstanceScope) {
    for (const auto& [env, args, parsed] : std::vector<std::array<const char*, 3>>{
             // environment, arguments, then argument|root|window source=text
             {"DISPLAY=localhost:1.0 WAYLAND_DISPLAY=w-0", "/s", "/s||"},
             {"XSCREENSAVER_WINDOW=0x1F", "/s -root -window-id 12", "/s|root|--window-id=12"},
             {"", "/s garbage", "/s garbage||"},
             {"", "/s --window-id", "/s --window-id||"},
             {"", "/s -window-id 1 --window-id 2", "/s -window-id 1 --window-id 2||"},
             {"", "/s -root ''", "/s -root ||"},
             {"", "/c -root", "/c -root||"},
             {"", "-root /s", "-root /s||"},
             {"", "", "||"}}) {
        Environment(env);
        const HostArguments arguments = ParseHostArguments(Words(args));
        const HostWindowRequest window = HostWindowFrom(arguments);
        EXPECT_EQ(arguments.argument + '|' + (arguments.root ? "root" : "") + '|' +
                      (window.Given() ? window.source + '=' + window.text : ""),
                  parsed);
    }
    const auto scope = [](const char* env, const char* args) {
        Environment(env);
        return InstanceScope(HostWindowFrom(ParseHostArguments(Words(args))));
    };
    // One scope however the display is spelt; one per window, however named; the root its own.
    EXPECT_EQ(scope("DISPLAY=:1", "/s"), scope("DISPLAY=localhost:1.0 WAYLAND_DISPLAY=w-0", "/s"));
    EXPECT_EQ(scope("XSCREENSAVER_WINDOW=0x1F", "/s"), scope("DISPLAY=:1", "/s --window-id 31"));
    const std::set<std::string> scopes{scope("", "/s"), scope("", "/s --window-id 31"),
                                       scope("", "/s --window-id 12"), scope("", "/s --root")};
    EXPECT_EQ(scopes.size(), 4U);
}

TEST(HostWindow, WithoutADisplayToTryTheReasonIsGiven) {
    const std::string none = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    for (const auto& [env, reason] : std::vector<std::pair<const char*, std::string>>{
             {"", none},
             {"DISPLAY=", none},
             {"WAYLAND_DISPLAY=w-0", "WAYLAND_DISPLAY is set, but XDG_RUNTIME_DIR is not"},
             {"WAYLAND_DISPLAY=w-0 XDG_RUNTIME_DIR=/run",
              "no Wayland display accepts at \"/run/w-0\""},
             {"WAYLAND_DISPLAY=/run/w-0", "no Wayland display accepts at \"/run/w-0\""}}) {
        Environment(env);
        EXPECT_EQ(MissingDisplay(), reason) << env;
    }
}

// One line on the program's own error stream, cut at a newline, and status 1; a long value makes
// no long line, and a quoted value is cut to 40 characters, never inside one. (Its other callers
// and a pipe nobody reads the end-to-end tests drive.)
TEST(FailureDeathTest, OneLineOfTheProgramsOwnAndStatusOne) {
    EXPECT_EXIT(Fail("one\ntwo"), testing::ExitedWithCode(1), "^digitmosaic: one\n$");
    EXPECT_EXIT(Fail(std::string(239, 'x') + "\u00e9"), testing::ExitedWithCode(1),
                "^digitmosaic: x{239}\u2026\n$");
    const std::string x39(39, 'x');
    EXPECT_EQ(Quoted(x39 + "y"), x39 + "y");
    EXPECT_EQ(Quoted(x39 + "yz"), x39 + "y\u2026");
    EXPECT_EQ(Quoted(x39 + "\u00e9"), x39 + "\u2026");  // é is two bytes
}

// The user's private runtime directory holds the lock where there is no X display: its holder
// does not see itself, also when asked again, and a later one finds it held. In a directory that
// others could open, or another user's, there is no lock at all (every saver runs) rather than one
// they could take or block. (That it goes with its holder the Wayland tests see.)
TEST(RuntimeDirectoryLock, TheRuntimeDirectoryLockHoldsOnlyInAPrivateDirectory) {
    char dir[] = "/tmp/digitmosaic-lock-XXXXXX";  // mode 0700
    ASSERT_NE(mkdtemp(dir), nullptr);
    Environment(std::string("XDG_RUNTIME_DIR=") + dir);
    for (const auto& [mode, owner] :
         {std::pair(0700U, getuid()), {0755U, getuid()}, {0700U, 65534U}}) {
        if (chmod(dir, mode) != 0 || chown(dir, owner, getgid()) != 0) continue;  // needs root
        RuntimeDirectoryLock holder;
        EXPECT_FALSE(holder.AnotherInstanceRunning() || holder.AnotherInstanceRunning()) << mode;
        EXPECT_EQ(RuntimeDirectoryLock().AnotherInstanceRunning(),
                  owner == getuid() && mode == 0700U)
            << mode << " " << owner;
    }
    rmdir(dir);
}

// The watchdog, in a process of its own: resting on a quiet connection it waits past its patience;
// a beat ends the rest, and counting starts again. (A loop stopped while painting, or resting when
// the connection has something, the end-to-end tests stop.)
TEST(WatchdogDeathTest, ABeatEndsTheRestAndCountingStartsAgain) {
    EXPECT_EXIT(
        {
            int connection[2];
            if (pipe(connection) != 0) std::_Exit(3);
            StartWatchdog(1);
            WatchdogRest(connection[0]);
            std::this_thread::sleep_for(3s);
            std::fputs("rested\n", stderr);
            WatchdogBeat();  // the loop came back; then it stops
            std::this_thread::sleep_for(10s);
            std::_Exit(4);
        },
        testing::ExitedWithCode(1), "^rested\ndigitmosaic: stopped responding; ending\n$");
}

}  // namespace
}  // namespace digitmosaic
