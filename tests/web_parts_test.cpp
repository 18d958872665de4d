// The parts of the shop service's web side that need no network: the
// journal read from its end, the program library, the send queue kept on
// disk, the [web] section and the token, and the metrics.

#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigFile.h"
#include "JournalReader.h"
#include "ProgramLibrary.h"
#include "QueueStore.h"
#include "Tally.h"
#include "TempDir.h"
#include "Token.h"
#include "WebConfig.h"

namespace fbx::shop::web {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::TempDir;

// A journal of n records, machine mK (K = i % 3), file O<i>.nc; the record
// of i = 7 holds a long detail when longDetail is given.
std::string writeJournal(const TempDir& dir, int n, std::size_t longDetail = 0) {
    std::string text;
    for (int i = 0; i < n; ++i) {
        JournalRecord r;
        r.time = 1700000000 + i;
        r.machine = "m" + std::to_string(i % 3);
        r.direction = i % 2 ? "send" : "receive";
        r.outcome = i % 5 ? "stored" : "partial";
        r.file = "/srv/nc/incoming/O" + std::to_string(i) + ".nc";
        if (i == 7) r.detail.assign(longDetail, 'x');
        text += formatJournalLine(r) + "\n";
    }
    writeWholeFile(dir.file("journal.jsonl"), text);
    return dir.file("journal.jsonl");
}

std::vector<std::string> files(const JournalPage& page) {
    std::vector<std::string> out;
    for (const auto& r : page.records) out.push_back(r["file"].get<std::string>().substr(17));
    return out;
}

// A torn last line (a crash) and an overlong one are passed over.
TEST(JournalReader, PagesGoBackFromTheNewestThroughEveryWholeRecordOnce) {
    TempDir dir;
    const std::string path = writeJournal(dir, 1000, 3 << 20);
    {
        std::ofstream out(path, std::ios::app);
        out << "{\"time\":\"2025-01-01T00:00:00Z\",\"machine\":\"m1\",\"fi";
    }
    std::vector<std::string> seen, expected;
    std::int64_t before = -1;
    do {
        const JournalPage page = readJournalPage(path, {}, before, 64);
        const auto names = files(page);
        seen.insert(seen.end(), names.begin(), names.end());
        before = page.before;
    } while (before >= 0);
    for (int i = 999; i >= 0; --i)
        if (i != 7) expected.push_back("O" + std::to_string(i) + ".nc");
    EXPECT_EQ(seen, expected);

    const JournalPage filtered = readJournalPage(path, {"m1", "send", "stored", "o1"}, -1, 3);
    EXPECT_EQ(files(filtered), (std::vector<std::string>{"O199.nc", "O193.nc", "O187.nc"}));
}

TEST(JournalReader, TheFirstPageOfAHugeJournalNeedsOnlyItsEnd) {
    TempDir dir;
    const std::string path = writeJournal(dir, 200000);
    // 64 KB of reading give the page: nothing before the end is read.
    const JournalPage page = readJournalPage(path, {}, -1, 50, 64 * 1024);
    ASSERT_EQ(page.records.size(), 50u);
    EXPECT_EQ(files(page)[0], "O199999.nc");
    EXPECT_GT(page.before, static_cast<std::int64_t>(fs::file_size(path)) - 64 * 1024);
    // A filter that matches nothing gives a short page to go on from.
    const JournalPage none = readJournalPage(path, {"nobody", "", "", ""}, -1, 50, 64 * 1024);
    EXPECT_TRUE(none.records.empty());
    EXPECT_GT(none.before, 0);
}

// Over HTTP: names, links out of the folder, the previous version kept.
TEST(ProgramLibrary, AnUploadTakesTheNameOnlyWhenCommitted) {
    TempDir dir;
    writeWholeFile(dir.file("O1.nc"), "%\r\nO1\r\n%");
    {
        ProgramUpload up(dir.path(), "O1.nc", 64 << 20), big(dir.path(), "O2.nc", 10);
        ASSERT_TRUE(up.open().isOk() && big.open().isOk());
        ASSERT_TRUE(up.take(std::string(3 << 20, '\x93')));
        EXPECT_EQ(fileBytes(dir.file("O1.nc")), "%\r\nO1\r\n%");
        EXPECT_FALSE(big.take("01234567890"));
        EXPECT_TRUE(big.tooLarge());
    }  // neither committed
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
    EXPECT_EQ(fileBytes(dir.file("O1.nc")), "%\r\nO1\r\n%");
    EXPECT_TRUE(deleteProgram(dir.path(), "O1.nc").isOk());
    EXPECT_EQ(deleteProgram(dir.path(), "O1.nc").code(), Status::Code::NothingWaiting);
}

TEST(QueueStore, SendsWaitTheirTurnAndSurviveARestart) {
    TempDir dir;
    const std::string path = dir.file("state.queue");
    std::vector<std::string> changes;
    {
        QueueStore q(path);
        q.onChange([&](const std::string& m) { changes.push_back(m); });
        QueuedSend a, b, c;
        ASSERT_TRUE(q.add("m1", "O1.nc", a).isOk());
        ASSERT_TRUE(q.add("m1", "O2.nc", b).isOk());
        ASSERT_TRUE(q.add("m2", "O3.nc", c).isOk());
        EXPECT_EQ(q.take("m1")->id, a.id);
        EXPECT_FALSE(q.take("m1"));  // one at a time
        q.putBack(a.id);             // the machine punched instead: first in line again
        EXPECT_EQ(q.take("m1")->program, "O1.nc");
        q.sending(a.id);
        EXPECT_EQ(q.withdraw("m1", a.id), QueueStore::Withdrawn::AlreadySending);
        EXPECT_EQ(q.withdraw("m2", b.id), QueueStore::Withdrawn::Unknown);
        q.finished(a.id);
        EXPECT_FALSE(q.stillQueued(a.id));
        EXPECT_EQ(q.take("m2")->id, c.id);
        EXPECT_EQ(changes.size(), 9u);
    }
    QueueStore again(path);
    ASSERT_TRUE(again.load().isOk());
    const std::vector<QueuedSend> left = again.list();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[1].state, QueuedSend::State::Waiting);  // taken before the restart
    QueuedSend d;
    ASSERT_TRUE(again.add("m1", "O4.nc", d).isOk());
    EXPECT_GT(d.id, left[1].id);
}

TEST(WebConfig, TheSectionIsCheckedKeyByKey) {
    TempDir dir;
    writeWholeFile(dir.file("token"), std::string(40, 'k') + "\n");
    writeWholeFile(dir.file("short"), "0123456789");
    writeWholeFile(dir.file("blank"), std::string(20, 'k') + " " + std::string(20, 'k'));
    // The keys as "key=value;..." and the first problem ("" when none).
    const std::pair<std::string, std::string> cases[] = {
        {"token-file=token", ""},
        {"listen=0.0.0.0:80;token-file=token", ""},
        {"listen=[::1]:9000;token-file=token", ""},
        {"listen=8180;token-file=token", "[web] listen: '8180' is not"},
        {"listen=1.2.3.4:70000;token-file=token", "[web] listen: '1.2.3.4:70000'"},
        {"", "[web] token-file: missing"},
        {"token-file=short", "[web] token-file: " + dir.file("short") + ": the token is shorter"},
        {"token-file=blank", "[web] token-file: " + dir.file("blank") + ": the token may hold"},
        {"token-file=token;open-view=true", "[web] open-view: 'true' is not yes or no"},
        {"token-file=token;cert=token", "[web] key: cert and key go together"},
        {"token-file=token;port=1", "[web] port: unknown key"},
    };
    std::vector<std::string> listening;
    for (const auto& [text, problem] : cases) {
        std::vector<std::pair<std::string, std::string>> keys;
        for (size_t at = 0; at < text.size();) {
            const size_t end = std::min(text.find(';', at), text.size()), eq = text.find('=', at);
            keys.emplace_back(text.substr(at, eq - at), text.substr(eq + 1, end - eq - 1));
            at = end + 1;
        }
        std::vector<ConfigProblem> problems;
        const WebConfig web = readWebSection(keys, dir.path(), problems);
        EXPECT_EQ(web.enabled, problem.empty()) << text;
        if (problem.empty()) {
            EXPECT_TRUE(problems.empty()) << describe(problems[0]);
            EXPECT_EQ(web.token, std::string(40, 'k'));
            listening.push_back(web.address + " " + std::to_string(web.port));
        } else {
            ASSERT_FALSE(problems.empty()) << problem;
            EXPECT_EQ(describe(problems[0]).rfind(problem, 0), 0u) << describe(problems[0]);
        }
    }
    EXPECT_EQ(listening, (std::vector<std::string>{"127.0.0.1 8180", "0.0.0.0 80", "::1 9000"}));
}

TEST(Token, AMadeTokenIsLongAndRandomAndComparedWhole) {
    TempDir dir;
    ASSERT_TRUE(makeTokenFile(dir.file("a")).isOk());
    ASSERT_TRUE(makeTokenFile(dir.file("b")).isOk());
    EXPECT_FALSE(makeTokenFile(dir.file("a")).isOk());  // never overwritten
    std::string a, b;
    ASSERT_EQ(readToken(dir.file("a"), a), "");
    ASSERT_EQ(readToken(dir.file("b"), b), "");
    EXPECT_EQ(a.size(), 43u);
    EXPECT_NE(a, b);
    EXPECT_TRUE(sameToken(a, a));
    for (const std::string& wrong :
         {b, a.substr(0, 42), a + "x", std::string(), a.substr(1) + a[0]})
        EXPECT_FALSE(sameToken(wrong, a)) << wrong;
    EXPECT_FALSE(sameToken("", ""));
}

TEST(TransferTally, MetricsCountTransfersAndTheBoardCountsToday) {
    TransferTally tally;
    struct {
        const char *machine, *direction, *outcome;
        int bytes;
    } records[] = {{"m1", "receive", "stored", 100}, {"m1", "receive", "stored", 50},
                   {"m1", "request", "found", 20},   {"m1", "send", "sent", 300},
                   {"m\"2", "line", "lost", 0},      {"m\"2", "receive", "partial", 7}};
    for (const auto& x : records) {
        JournalRecord r;
        r.time = std::time(nullptr);
        r.machine = x.machine, r.direction = x.direction, r.outcome = x.outcome, r.bytes = x.bytes;
        tally.count(r);
    }
    MachineSnapshot m1, m2;
    m1.config.name = "m1";
    m1.state = "held by DC3 for 3 s";
    m2.config.name = "m\"2";
    m2.state = "line lost, retrying";
    const std::string text = tally.metrics({m1, m2}, QueueStore(""), 3);
    for (const char* line :
         {"transfers_total{machine=\"m1\",direction=\"receive\",outcome=\"stored\"} 2\n",
          "bytes_total{machine=\"m1\",direction=\"receive\"} 150\n",
          "lines_lost_total{machine=\"m\\\"2\"} 1\n", "lines_lost_total{machine=\"m1\"} 0\n",
          "machine_state{machine=\"m1\",state=\"held\"} 1\n",
          "machine_state{machine=\"m\\\"2\",state=\"lost\"} 1\n"})
        EXPECT_NE(text.find(std::string("\nferobrixlan_") + line), std::string::npos)
            << line << text;
    const TransferTally::Day day = tally.today("m1", std::time(nullptr));
    EXPECT_EQ((std::vector{day.received, day.sent, day.failed}), (std::vector{2, 1, 0}));
    EXPECT_EQ(tally.today("m\"2", std::time(nullptr)).failed, 1);
    EXPECT_EQ(tally.last("m1")->direction, "send");
}

}  // namespace
}  // namespace fbx::shop::web
