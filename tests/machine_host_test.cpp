// One machine of the shop, hosted on an in-memory line: what it punches is
// stored, what it asks for is answered, and a lost line comes back.

#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigFile.h"
#include "EiaCodes.h"
#include "MachineHost.h"
#include "MemorySerialPort.h"
#include "PollPort.h"
#include "TempDir.h"

namespace fbx::shop {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;

// What a tape punch in EIA puts on the line: CR dropped, LF as end of block.
std::string eiaTape(const std::string& text) {
    std::string tape;
    for (char c : text) {
        if (c == '\n') tape += static_cast<char>(0x80);
        else if (c != '\r') tape += static_cast<char>(ToEiaCode(static_cast<std::uint8_t>(c), true));
    }
    return tape;
}

std::string withoutFlowControl(std::string bytes) {
    std::erase_if(bytes, [](char c) { return c == kDC1 || c == kDC3; });
    return bytes;
}

class MachineHostTest : public ::testing::Test {
protected:
    MachineHostTest() {
        fs::create_directories(dir.file("nc"));
        config.name = "mill-1";
        config.port = "/dev/memory";
        config.dataBits = 8;
        config.parity = 'n';
        config.code = TapeCode::Auto;
        config.folder = dir.file("nc");
        config.incoming = dir.file("nc/incoming");
        config.request = kDefaultRequest;
    }
    void start() {
        host = std::make_unique<MachineHost>(config, clock, journal, [this](const std::string&) {
            auto port = std::make_unique<MemorySerialPort>();
            line = port.get();
            return port;
        });
    }
    // Services the host every 5 ms of the clock, as the shop's loop would
    // at the latest.
    void run(int ms) {
        for (int t = 0; t < ms; t += 5) {
            host->service();
            clock.advance(5);
        }
        for (JournalRecord& r : journal.takeRecent()) records.push_back(r);
    }
    std::vector<std::string> outcomes(const std::string& direction) const {
        std::vector<std::string> found;
        for (const JournalRecord& r : records) {
            if (r.direction == direction) found.push_back(r.outcome);
        }
        return found;
    }
    std::string incoming(const std::string& name) const {
        return fileBytes(config.incoming + "/" + name);
    }
    size_t opens() const {
        return std::count_if(line->calls.begin(), line->calls.end(),
                             [](const MemorySerialPort::Call& c) { return c.op == "open"; });
    }

    test::TempDir dir;
    MachineConfig config;
    FakeClock clock;
    Journal journal;
    std::vector<JournalRecord> records;
    std::unique_ptr<MachineHost> host;
    MemorySerialPort* line = nullptr;
};

TEST_F(MachineHostTest, AnIsoAndAnEiaProgramPunchedBackToBackAreStoredAsPunched) {
    const std::string iso = "%\r\nO1001 (FIRST)\r\nG00 X1 Y2\r\nM30\r\n%";
    const std::string eia = "%\nO2002\nG01 X5\nM30\n%";
    start();
    line->queueInput(std::string(20, '\0') + iso + "\r\n" + std::string(10, '\0') + eiaTape(eia));
    run(5000);
    EXPECT_EQ(incoming("O1001.nc"), iso);
    EXPECT_EQ(incoming("O2002.nc"), eia);
    ASSERT_EQ(outcomes("receive"), (std::vector<std::string>{"stored", "stored"}));
    EXPECT_EQ(records[0].bytes, static_cast<std::int64_t>(iso.size()));
    Crc32 crc;
    crc.update(iso);
    EXPECT_EQ(records[0].crc32, crc.value());
    EXPECT_EQ(records[1].bytes, static_cast<std::int64_t>(eiaTape(eia).size()));
    EXPECT_EQ(std::distance(fs::directory_iterator(config.incoming), fs::directory_iterator()), 2);
    EXPECT_EQ(host->stateText(), "listening");
}

TEST_F(MachineHostTest, ARequestIsAnsweredWhenTheMachineSaysDc1EvenInTheSameRead) {
    const std::string program = "%\r\nO5001 (ANSWER)\r\nG00 X9\r\nM30\r\n%";
    writeWholeFile(config.folder + "/O5001.nc", program);
    start();
    line->queueInput("%\r\n(LOAD O5001)\r\n%" + std::string(1, static_cast<char>(kDC1)));
    run(5000);
    EXPECT_EQ(withoutFlowControl(line->written), program);
    EXPECT_EQ(outcomes("request"), std::vector<std::string>{"found"});
    ASSERT_EQ(outcomes("send"), std::vector<std::string>{"sent"});
    EXPECT_EQ(records.back().bytes, static_cast<std::int64_t>(program.size()));
    EXPECT_TRUE(outcomes("receive").empty());
    EXPECT_FALSE(fs::exists(config.incoming + "/O5001.nc"));
}

TEST_F(MachineHostTest, AnAnswerTheMachineHoldsIsShownHeldUntilItsDc1) {
    const std::string program = "%\r\nO5002\r\nG00 X9\r\nM30\r\n%";
    writeWholeFile(config.folder + "/O5002.nc", program);
    start();
    line->queueInput("%\r\n(LOAD O5002)\r\n%" + std::string{kDC1, kDC3});
    run(3000);
    const std::string held = "held by DC3 for ";
    const std::string first = host->stateText();
    ASSERT_EQ(first.substr(0, held.size()), held);
    run(2000);
    EXPECT_EQ(host->stateText(), held + std::to_string(std::stoi(first.substr(held.size())) + 2) + " s");
    EXPECT_LT(withoutFlowControl(line->written).size(), program.size());
    line->queueInput({kDC1});
    run(1000);
    EXPECT_EQ(withoutFlowControl(line->written), program);
}

TEST_F(MachineHostTest, MissingAndEscapingNamesAreAnsweredAsNotFound) {
    writeWholeFile(dir.file("secret.nc"), "%\r\nSECRET\r\n%");
    start();
    line->queueInput("%\r\n(LOAD O4)\r\n%");
    run(2500);
    EXPECT_NE(host->stateText().find("for DC1"), std::string::npos) << host->stateText();
    line->queueInput({kDC1});
    run(1000);
    line->queueInput("%\r\n(LOAD ../secret)\r\n%\x11");
    run(3000);
    EXPECT_EQ(withoutFlowControl(line->written),
              "%\r\n(O4 NOT FOUND)\r\n%%\r\n(../SECRET NOT FOUND)\r\n%");
    EXPECT_EQ(outcomes("request"), (std::vector<std::string>{"not found", "refused"}));
    EXPECT_EQ(outcomes("send"), (std::vector<std::string>{"sent", "sent"}));
    EXPECT_FALSE(fs::exists(config.incoming + "/O4.nc"));
}

TEST_F(MachineHostTest, APulledCableKeepsWhatArrivedAndTheLineIsOpenedAgainEveryFiveSeconds) {
    start();
    line->queueInput("%\r\nO3\r\nG01 X1\r\n");
    run(1000);
    line->pullCable();
    line->openResult = SIO_OPENFAIL;
    run(1500);  // the engine says "Port error" and closes a second later
    EXPECT_EQ(incoming("O3.nc.partial").substr(0, 15), "%\r\nO3\r\nG01 X1\r\n");
    EXPECT_EQ(outcomes("receive"), std::vector<std::string>{"partial"});
    EXPECT_EQ(outcomes("line"), std::vector<std::string>{"lost"});
    EXPECT_EQ(host->stateText(), "line lost, retrying");

    const size_t before = opens();
    run(3000);
    EXPECT_EQ(opens(), before);
    run(2000);
    EXPECT_EQ(opens(), before + 1);
    line->openResult = SIO_OK;
    line->failAfter(-1);
    run(5000);
    EXPECT_EQ(outcomes("line"), (std::vector<std::string>{"lost", "reopened"}));
    EXPECT_EQ(host->stateText(), "listening");
    line->queueInput("%\r\nO8\r\n%");
    run(2000);
    EXPECT_EQ(incoming("O8.nc"), "%\r\nO8\r\n%");
}

TEST_F(MachineHostTest, ContinuousReceptionEndsAfterItsQuietSpellOrAsPartialAtTheStop) {
    config.receive = ReceiveMode::Continuous;
    config.idleSeconds = 1;
    start();
    line->queueInput("O6\r\nG1\r\n");
    run(900);
    EXPECT_EQ(host->stateText(), "receiving 8 bytes");
    run(2500);
    EXPECT_EQ(incoming("O6.nc"), "O6\r\nG1\r\n");

    line->queueInput("O7\r\nG2\r\n");
    run(700);
    host->terminate();
    run(2000);
    EXPECT_TRUE(host->done());
    EXPECT_EQ(incoming("O7.nc.partial"), "O7\r\nG2\r\n");
    EXPECT_EQ(outcomes("receive"), (std::vector<std::string>{"stored", "partial"}));
    EXPECT_FALSE(fs::exists(config.incoming + "/.ferobrixlan-receiving-mill-1"));
}

}  // namespace
}  // namespace fbx::shop
