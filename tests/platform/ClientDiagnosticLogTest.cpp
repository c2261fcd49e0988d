#include "platform/ClientDiagnosticLog.h"
#include "platform/fake/FakeHostInfo.h"
#include "platform/fake/ManualClock.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

class ClientDiagnosticLogTest : public ::testing::Test {
protected:
    // The snapshot's log lines, after its five header lines.
    std::vector<std::string> logLines()
    {
        auto lines = linesOf(log.diagnosticSnapshot());
        return {lines.begin() + 5, lines.end()};
    }

    ManualClock clock;
    FakeHostInfo host;
    ClientDiagnosticLog log{clock, host};
};

} // namespace

TEST_F(ClientDiagnosticLogTest, SnapshotHasTheHeaderThenTheLinesInOrder)
{
    clock.advance(125ms);
    log.log("CHAT", "direction=incoming length=12");
    clock.advance(1s);
    log.log("SESSION", "state=supporting viewOnly=false");

    EXPECT_EQ(linesOf(log.diagnosticSnapshot()), (std::vector<std::string>{
                                                     "component=MacClient version=v0.1.0-b1",
                                                     "machine=Test Machine",
                                                     "os=Debian GNU/Linux 12 (bookworm), kernel 6.1.0-test",
                                                     "processorCount=8",
                                                     "physicalMemory=17179869184",
                                                     "2026-01-31T09:15:02.000Z|START|component=MacClient version=v0.1.0-b1",
                                                     "2026-01-31T09:15:02.125Z|CHAT|direction=incoming length=12",
                                                     "2026-01-31T09:15:03.125Z|SESSION|state=supporting viewOnly=false",
                                                 }));
}

TEST_F(ClientDiagnosticLogTest, KeepsTheLastTwoThousandLines)
{
    for (int i = 1; i <= 2000; ++i) {
        log.log("TEST", "n=" + std::to_string(i));
    }
    // 2001 lines were logged with START: the oldest, START, is gone.
    auto lines = logLines();
    ASSERT_EQ(lines.size(), ClientDiagnosticLog::maximumLineCount);
    EXPECT_TRUE(lines.front().ends_with("|TEST|n=1"));
    EXPECT_TRUE(lines.back().ends_with("|TEST|n=2000"));

    log.log("TEST", "n=2001");
    lines = logLines();
    ASSERT_EQ(lines.size(), ClientDiagnosticLog::maximumLineCount);
    EXPECT_TRUE(lines.front().ends_with("|TEST|n=2"));
    EXPECT_TRUE(lines.back().ends_with("|TEST|n=2001"));
}

TEST_F(ClientDiagnosticLogTest, ABoundedSnapshotKeepsTheHeaderAndTheNewestWholeLines)
{
    for (int i = 1; i <= 3; ++i) {
        log.log("TEST", "n=" + std::to_string(i));
    }
    const std::string whole = log.diagnosticSnapshot();
    const auto lines = linesOf(whole);
    const std::size_t header = whole.find("\n2026"); // the header, without the line feed after it
    const auto sizeWith = [&](std::size_t newest) { // the header and the newest `newest` lines
        std::size_t size = header;
        for (std::size_t i = lines.size() - newest; i < lines.size(); ++i) {
            size += 1 + lines[i].size();
        }
        return size;
    };
    struct Case {
        std::size_t maximumBytes;
        std::size_t keptLines;
    };
    const Case cases[] = {
        {whole.size(), 4},  {whole.size() - 1, 3}, {sizeWith(1), 1}, {sizeWith(1) - 1, 0},
        {header, 0},        {10, 0},               {0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maximumBytes);
        const std::string bounded = log.diagnosticSnapshot(c.maximumBytes);
        const auto kept = linesOf(bounded);
        ASSERT_EQ(kept.size(), 5 + c.keptLines);
        EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 5, lines.begin()));
        EXPECT_TRUE(std::equal(kept.begin() + 5, kept.end(), lines.end() - static_cast<std::ptrdiff_t>(c.keptLines)));
        if (c.maximumBytes >= header) {
            EXPECT_LE(bounded.size(), c.maximumBytes);
        }
    }
}

TEST_F(ClientDiagnosticLogTest, ALongLineIsCutAtACharacterBoundary)
{
    std::string message;
    while (message.size() < ClientDiagnosticLog::maximumLineBytes) {
        message += "\xE2\x82\xAC"; // three bytes each
    }
    log.log("TEST", message);
    const auto line = logLines().back();
    EXPECT_LE(line.size(), ClientDiagnosticLog::maximumLineBytes);
    EXPECT_GT(line.size(), ClientDiagnosticLog::maximumLineBytes - 3);
    EXPECT_TRUE(line.ends_with("\xE2\x82\xAC")) << "no character is cut in half";
}

TEST_F(ClientDiagnosticLogTest, APeersTextCannotForgeALineOrAField)
{
    using namespace std::string_literals;
    struct Case {
        const char* what;
        std::string category;
        std::string message;
        std::string stored; // the line after the time
    };
    const Case cases[] = {
        {"a line feed and a forged line", "E2EE", "sender=x\n2026-01-31T09:15:02.000Z|SESSION|state=ended",
         "E2EE|sender=x\\n2026-01-31T09:15:02.000Z\\|SESSION\\|state=ended"},
        {"a bar in a value", "CHAT", "name=a|b", "CHAT|name=a\\|b"},
        {"a forged category", "CHAT|START", "n=1", "CHAT\\|START|n=1"},
        {"a category that ends the line", "CHAT\n2026-01-31T09:15:02.000Z|START", "n=1",
         "CHAT\\n2026-01-31T09:15:02.000Z\\|START|n=1"},
        {"a terminal escape", "CHAT", "name=\x1b[2J\x1b[1;1H", "CHAT|name=\\x1b[2J\\x1b[1;1H"},
        {"a carriage return over the line", "CHAT", "name=a\rSESSION", "CHAT|name=a\\rSESSION"},
        {"a NUL", "CHAT", "name=a\0b"s, "CHAT|name=a\\x00b"},
        {"a tab and DEL", "CHAT", "name=a\tb\x7f", "CHAT|name=a\\tb\\x7f"},
        {"an escape typed as text", "CHAT", "name=a\\nb", "CHAT|name=a\\\\nb"},
        {"C1 next line, line and paragraph separators", "CHAT", "name=a\u0085b\u2028c\u2029d",
         "CHAT|name=a\\u0085b\\u2028c\\u2029d"},
        {"a direction override", "CHAT", "name=\u202Etxt.exe", "CHAT|name=\\u202etxt.exe"},
        {"bytes that are not UTF-8", "CHAT", "name=\xff\xc0\xaf\xed\xa0\x80\xe2\x82",
         "CHAT|name=\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xe2\\x82"},
        // Lines as the client logs them stay as they are.
        {"a plain line", "SESSION", "state=supporting viewOnly=false", "SESSION|state=supporting viewOnly=false"},
        {"Korean, an emoji", "E2EE", "ready name=\uae40\uc0c1\ub2f4 \U0001F600 code=AB12",
         "E2EE|ready name=\uae40\uc0c1\ub2f4 \U0001F600 code=AB12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clock.advance(1ms);
        const std::size_t before = logLines().size();
        log.log(c.category, c.message);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), before + 1) << "one line for one call";
        EXPECT_EQ(lines.back().substr(25), c.stored);
        EXPECT_EQ(lines.back()[24], '|');
    }
}

TEST_F(ClientDiagnosticLogTest, ALineOfEscapesIsCutBetweenEscapes)
{
    log.log("TEST", std::string(ClientDiagnosticLog::maximumLineBytes, '\x1b'));
    const auto line = logLines().back();
    EXPECT_LE(line.size(), ClientDiagnosticLog::maximumLineBytes);
    EXPECT_GT(line.size(), ClientDiagnosticLog::maximumLineBytes - 4);
    const std::size_t escapes = line.size() - line.find("|TEST|") - 6;
    EXPECT_EQ(escapes % 4, 0u) << "no escape is cut in half";
    EXPECT_TRUE(line.ends_with("\\x1b"));
}

TEST_F(ClientDiagnosticLogTest, LinesFromManyThreadsAreAllKeptWhole)
{
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) {
                log.log("THREAD", "writer=" + std::to_string(t) + " n=" + std::to_string(i));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }

    const std::regex shape(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z\|THREAD\|writer=[0-3] n=\d+)");
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 801u);
    std::vector<int> nextOfWriter(4, 0);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_TRUE(std::regex_match(lines[i], shape)) << lines[i];
        const int writer = lines[i][lines[i].find("writer=") + 7] - '0';
        const int n = std::stoi(lines[i].substr(lines[i].find(" n=") + 3));
        EXPECT_EQ(n, nextOfWriter[writer]++) << "each writer's lines stay in its order";
    }
}

TEST(ClientDiagnosticLogSharedTest, TheProcessLogStartsWithItsStartLine)
{
    auto lines = linesOf(ClientDiagnosticLog::shared().diagnosticSnapshot());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "component=MacClient version=v0.1.0-b1");
    EXPECT_TRUE(lines[1].starts_with("machine=") && lines[1].size() > 8);
    EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\|START\|component=MacClient version=v0\.1\.0-b1)")))
        << lines[5];
}
