// What the terminal shows of a run: log lines and message boxes on standard
// output, the progress bar on standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "cli/Preview.h"
#include "cli/ProgressBar.h"
#include "cli/TerminalReceiver.h"
#include "engine/ApplicationState.h"

namespace talmera::cli {
namespace {

using namespace std::chrono_literals;

// A clock the test moves by hand.
struct ManualClock {
    ProgressBar::TimePoint now{};
    ProgressBar::Clock function() {
        return [this] { return now; };
    }
};

size_t draws(const std::string& err) { return static_cast<size_t>(std::count(err.begin(), err.end(), '[')); }

TEST(TerminalReceiverTest, PrintsLogLinesAndMessageBoxes) {
    using Send = std::function<void(TerminalReceiver&, CQuorvinAccessRecoveryApp&)>;
    struct Case {
        const char* what;
        Send send;
        std::string expected;
    };
    const Case cases[] = {
        {"log line as is", [](auto& r, auto& app) { app.logLine = "  Orders  :  3 Record(s)  "; r.send(UM_LOG_LINE, 0, 0); },
         "  Orders  :  3 Record(s)  \n"},
        {"line break inside a log line", [](auto& r, auto& app) { app.logLine = "one\ntwo"; r.send(UM_LOG_LINE, 0, 0); },
         "one\ntwo\n"},
        {"box: outer breaks trimmed, empty lower text left out",
         [](auto& r, auto&) { r.showMessageBox("\n\nRepairing process successfully completed.", ""); },
         "[message] Repairing process successfully completed.\n"},
        {"box with both texts, inner break kept",
         [](auto& r, auto&) { r.showMessageBox("\nUnable to stabilize.\n Please restart.", "\r\nLower\r\n"); },
         "[message] Unable to stabilize.\n Please restart.\n[message] Lower\n"},
        {"box of line breaks only", [](auto& r, auto&) { r.showMessageBox("\n\n", "\n"); }, ""},
        {"platform message", [](auto& r, auto&) { r.showPlatformMessage("This file cannot be opened.\n"); },
         "[message] This file cannot be opened.\n"},
        {"window-only messages print nothing",
         [](auto& r, auto&) {
             r.send(UM_BUILD_TREE, 0, 0);
             r.send(UM_ADD_RECORD_ROW, 0, 0);
             r.post(UM_RUN_FINISHED, 0, 0);
         },
         ""},
    };
    for (const Case& c : cases) {
        CQuorvinAccessRecoveryApp app;
        std::ostringstream out, err;
        ProgressBar bar(err, false);
        TerminalReceiver receiver(app, out, bar);
        c.send(receiver, app);
        EXPECT_EQ(out.str(), c.expected) << c.what;
        EXPECT_EQ(err.str(), "") << c.what;
    }
}

TEST(ProgressBarTest, ShowsTheShareDone) {
    struct Case {
        uint64_t total;
        int steps;
        std::string expected;
        std::string label;
    };
    const Case cases[] = {
        {3, 0, "\r[------------------------------]   0% 0/3"},
        // After a second: the rate and the time left at that rate.
        {200, 100, "\r[###############---------------]  50% 100/200, 100/s, 0:01 left"},
        // More steps than announced: the bar stays full, the count stays true,
        // and no time is left to tell.
        {10, 12, "\r[##############################] 100% 12/10, 12/s"},
        // No announced total: only the count and the rate.
        {0, 7, "\r[------------------------------] 7, 7/s"},
        // The bar names what it measures.
        {4, 2, "\rOrders: rows [###############---------------]  50% 2/4, 2/s, 0:01 left", "Orders: rows"},
    };
    for (const Case& c : cases) {
        ManualClock clock;
        std::ostringstream err;
        ProgressBar bar(err, true, clock.function());
        bar.setLabel(c.label);
        bar.start(c.total);
        if (c.steps > 0) {
            err.str("");
            for (int i = 1; i < c.steps; ++i) bar.step();
            clock.now += 1s;
            bar.step();
        }
        EXPECT_EQ(err.str(), c.expected);
    }
}

// A scan sends one step per page: the bar must not write per step.
TEST(ProgressBarTest, RedrawsAtMostTenTimesASecond) {
    ManualClock clock;
    std::ostringstream err;
    ProgressBar bar(err, true, clock.function());
    bar.start(400000);
    for (int i = 0; i < 200000; ++i) bar.step();
    EXPECT_EQ(draws(err.str()), 1u) << "steps within one interval drew again";

    // 200000 steps, one millisecond apart: 200 seconds, so about 2000 redraws.
    for (int i = 0; i < 200000; ++i) {
        clock.now += 1ms;
        bar.step();
    }
    const size_t drawn = draws(err.str()) - 1;
    EXPECT_LE(drawn, 2001u);
    EXPECT_GE(drawn, 1900u);

    bar.end();
    const std::string text = err.str();
    // The bar is wiped: the last write goes back to the line start over blanks.
    const size_t clear = text.find_last_of('\r', text.size() - 2);
    EXPECT_EQ(text.back(), '\r');
    EXPECT_EQ(text.find_first_not_of(' ', clear + 1), text.size() - 1);
    EXPECT_FALSE(bar.visible());
    const size_t length = text.size();
    bar.step();
    clock.now += 1s;
    bar.step();
    EXPECT_EQ(err.str().size(), length) << "steps after the end drew the bar";
}

// The receiver drives the bar; a log line first clears it from the terminal.
TEST(TerminalReceiverTest, DrivesTheProgressBarOnlyOnATerminal) {
    for (bool terminal : {true, false}) {
        CQuorvinAccessRecoveryApp app;
        ManualClock clock;
        std::ostringstream out, err;
        ProgressBar bar(err, terminal, clock.function());
        TerminalReceiver receiver(app, out, bar);
        receiver.send(UM_PROGRESS, kProgressStart, 10);
        EXPECT_EQ(bar.visible(), terminal);
        app.logLine = "Repairing file...";
        receiver.send(UM_LOG_LINE, 0, 0);
        EXPECT_FALSE(bar.visible()) << "a log line was printed over the bar";
        clock.now += 1s;
        receiver.send(UM_PROGRESS, kProgressStep, 0);
        EXPECT_EQ(bar.visible(), terminal);
        receiver.send(UM_PROGRESS, kProgressEnd, 0);
        EXPECT_FALSE(bar.visible());
        EXPECT_EQ(out.str(), "Repairing file...\n");
        if (terminal) {
            EXPECT_NE(err.str().find("1/10"), std::string::npos) << err.str();
        } else {
            EXPECT_EQ(err.str(), "") << "the bar was drawn although standard error is no terminal";
        }
    }
}

// The preview's lines: one per slot that yielded values, each written whole;
// JSON stays valid whatever bytes a damaged file holds.
TEST(RowWriterTest, WritesOneLinePerRow) {
    struct Case {
        const char* what;
        std::vector<std::string> cells;
        std::string tsv;
        std::string json;
    };
    const Case cases[] = {
        {"escapes", {"a\tb", "c\nd\re", "back\\slash", "\\t"},
         "a\\tb\tc\\nd\\re\tback\\\\slash\t\\\\t\n",
         R"(["a\tb","c\nd\re","back\\slash","\\t"])" "\n"},
        {"NULL and empty", {" ", ""}, " \t\n", R"([" ",""])" "\n"},
        {"quotes, control characters, UTF-8", {"say \"hi\"", "\x01", "Köln 日本"},
         "say \"hi\"\t\x01\tKöln 日本\n", R"(["say \"hi\"","\u0001","Köln 日本"])" "\n"},
        // tsv passes the bytes on; JSON replaces what is not UTF-8.
        {"not UTF-8", {"ab\xFF", "\xC3"}, "ab\xFF\t\xC3\n", "[\"ab\xEF\xBF\xBD\",\"\xEF\xBF\xBD\"]\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rowLine(c.cells, RowFormat::Tsv), c.tsv) << c.what;
        EXPECT_EQ(rowLine(c.cells, RowFormat::Json), c.json) << c.what;
    }

    CQuorvinAccessRecoveryApp app;
    ManualClock clock;
    std::ostringstream out, err;
    ProgressBar bar(err, true, clock.function());
    RowWriter writer(app, out, RowFormat::Tsv, bar);
    writer.writeHeader({"ID", "Name"});
    bar.start(2);
    app.currentRowValues = {"1", "Ann"};
    writer.send(UM_ADD_RECORD_ROW, 0, 1);
    app.currentRowValues.clear();  // a slot without a row
    writer.send(UM_ADD_RECORD_ROW, 0, 0);
    writer.send(UM_PROGRESS, kProgressStart, 50);  // the run's per-page progress
    app.currentRowValues = {"2", "Bo"};
    clock.now += 1s;
    writer.send(UM_ADD_RECORD_ROW, 0, 0);
    EXPECT_EQ(out.str(), "ID\tName\n1\tAnn\n2\tBo\n");
    EXPECT_EQ(writer.rowsWritten(), 2u);
    EXPECT_NE(err.str().find("2/2"), std::string::npos) << "the bar counts rows: " << err.str();
    EXPECT_EQ(err.str().find("/50"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace talmera::cli
