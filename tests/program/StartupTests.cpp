// Start-up and the saver window: the argument dispatch of Main, the saver's load sequence,
// the handlers that end the program and the mouse-move tolerance.
#include <gtest/gtest.h>

#include <functional>

#include "FakeHost.h"
#include "startup/Main.h"

namespace digitmosaic::testing {
namespace {

using Calls = std::vector<std::string>;

struct Program {
    FakeHost host;
    PictureState state;
    form1 saver{host, state};
    about aboutBox{host};

    void RunMain() { Main(host, saver, aboutBox); }
};

class IgnoredArgument : public ::testing::TestWithParam<const char*> {};

TEST_P(IgnoredArgument, EndsAtOnceWithoutAWindow) {
    Program p;
    p.host.argument = GetParam();
    EXPECT_THROW(p.RunMain(), ProgramEnded);
    EXPECT_EQ(p.host.calls, Calls{"EndProgram"});
}

INSTANTIATE_TEST_SUITE_P(Main, IgnoredArgument,
                         ::testing::Values("/S", "/C", "/s ", "/c ", " /s", "/s:123", "/c:1",
                                           "/p 1234", "/p", "", "s", "c", "/sc", "/s /c", "-s",
                                           "/s\n"));

TEST(Main, SecondInstanceEndsWithoutLookingAtTheArgument) {
    for (const char* argument : {"/c", "/s"}) {
        Program p;
        p.host.anotherInstance = true;
        p.host.argument = argument;
        EXPECT_THROW(p.RunMain(), ProgramEnded);
        EXPECT_EQ(p.host.calls, Calls{"EndProgram"}) << argument;
        EXPECT_EQ(p.host.argumentReads, 0) << argument;
    }
}

TEST(Main, ConfigureOpensTheAboutWindowThenBeepsAndReturns) {
    Program p;
    p.host.argument = "/c";
    EXPECT_NO_THROW(p.RunMain());
    EXPECT_EQ(p.host.calls, (Calls{"OpenWindow(about)", "SystemBeep"}));

    EXPECT_THROW(p.aboutBox.Command1_Click(), ProgramEnded);
    EXPECT_EQ(p.host.calls,
              (Calls{"OpenWindow(about)", "SystemBeep", "UnloadWindow(about)", "EndProgram"}));
}

// "/s" parks the pointer at the screen's size in twips taken as pixels, opens the saver, and
// the saver's load shows it, seeds from the time of day and starts the loop.
TEST(Main, RunParksThePointerThenLoadsTheSaverAndPaints) {
    struct Screen {
        float width, height;
        const char* parked;
    };
    for (const Screen& screen : {Screen{28800, 16200, "SetCursorPos(28800,16200)"},
                                 Screen{38400, 21600, "SetCursorPos(38400,21600)"},
                                 Screen{15360, 11520, "SetCursorPos(15360,11520)"}}) {
        Program p;
        p.host.argument = "/s";
        p.host.screenWidthTwips = screen.width;
        p.host.screenHeightTwips = screen.height;
        p.host.secondsSinceMidnight = 43210.25F;
        p.host.randoms.assign(kDrawsPerPicture, 0.75F);
        p.host.onPump = [&] {
            EXPECT_TRUE(p.state.Running);
            p.saver.Form_KeyDown(0, 0);
        };

        EXPECT_THROW(p.RunMain(), ProgramEnded);
        // 0.75 draws base 8, height 235, width 282, raster, digit colours.
        Calls expected{screen.parked, "OpenWindow(saver)", "ShowWindow(saver)",
                       "SeedRandom(43210.25)"};
        expected.insert(expected.end(), kDrawsPerPicture, "RandomUnit");
        expected.insert(expected.end(), {"SetLogicalScale(0,0,282,235)", "PumpEvents",
                                         "UnloadWindow(saver)", "EndProgram"});
        EXPECT_EQ(p.host.CallsWithout({"DrawBox"}), expected) << screen.parked;
        EXPECT_EQ(p.host.boxes.size(), 282U);  // one row, then the key ended it
    }
}

// Every ending handler unloads its own window, then ends the program.
TEST(Form1, EndingHandlersUnloadTheirWindowThenEnd) {
    struct Handler {
        const char* name;
        std::function<void(Program&)> raise;
        Calls expected;
    };
    const Calls saverEnds{"UnloadWindow(saver)", "EndProgram"};
    const std::vector<Handler> handlers{
        {"Form_Click", [](Program& p) { p.saver.Form_Click(); }, saverEnds},
        {"Form_KeyDown", [](Program& p) { p.saver.Form_KeyDown(65, 1); }, saverEnds},
        {"Form_MouseDown", [](Program& p) { p.saver.Form_MouseDown(2, 0, 28800, 16200); },
         saverEnds},
        {"Form_Unload",
         [](Program& p) {
             bool cancel = false;
             p.saver.Form_Unload(cancel);
         },
         saverEnds},
        {"Command1_Click",
         [](Program& p) { p.aboutBox.Command1_Click(); },
         {"UnloadWindow(about)", "EndProgram"}},
    };
    for (const Handler& handler : handlers) {
        Program p;
        EXPECT_THROW(handler.raise(p), ProgramEnded) << handler.name;
        EXPECT_EQ(p.host.calls, handler.expected) << handler.name;
    }
}

struct Move {
    float x, y;
    bool ends;
};

// Runs the moves in order on a fresh saver; the last must end it, none before.
void CheckMoves(const std::vector<Move>& moves) {
    Program p;
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const Move& m = moves[i];
        if (m.ends) {
            EXPECT_THROW(p.saver.Form_MouseMove(0, 0, m.x, m.y), ProgramEnded) << "move " << i;
            EXPECT_EQ(p.host.calls, (Calls{"UnloadWindow(saver)", "EndProgram"}));
            return;
        }
        EXPECT_NO_THROW(p.saver.Form_MouseMove(0, 0, m.x, m.y)) << "move " << i;
        EXPECT_TRUE(p.host.calls.empty()) << "move " << i;
    }
}

TEST(Form1, FirstTwoMovesNeverEndTheThirdDoes) {
    CheckMoves({{3, 4, false}, {3, 4, false}, {3, 4, true}});
    CheckMoves({{0, 0, false}, {500000, -7, false}, {0, 0, true}});
    CheckMoves({{28800, 16200, false}, {28800, 16200, false}, {47.5F, 39.5F, true}});
}

TEST(Form1, MovesAtTheScreenSizeInTwipsAreIgnoredAfterTheSecond) {
    CheckMoves({{1, 1, false},
                {1, 1, false},
                {28800, 16200, false},
                {28800, 16200, false},
                {28800, 16200, false},
                {10, 10, true}});
    // Both coordinates must match.
    CheckMoves({{1, 1, false}, {1, 1, false}, {28800, 16199, true}});
    CheckMoves({{1, 1, false}, {1, 1, false}, {28799, 16200, true}});
    CheckMoves({{1, 1, false}, {1, 1, false}, {16200, 28800, true}});
}

}  // namespace
}  // namespace digitmosaic::testing
