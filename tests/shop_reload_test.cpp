// A reload of the shop's configuration: a changed machine finishes its
// transfer first and keeps its line, a removed one lets its line go, a new
// one opens its own, and an unchanged one is not touched.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "MemorySerialPort.h"
#include "Shop.h"
#include "TempDir.h"

namespace fbx::shop {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;

// An in-memory line that says when its machine has let it go.
class KeptPort : public MemorySerialPort {
public:
    explicit KeptPort(bool& released) : m_released(released) {}
    ~KeptPort() override { m_released = !open; }

private:
    bool& m_released;
};

class ShopReloadTest : public ::testing::Test {
protected:
    MachineConfig machine(const std::string& name, const std::string& folder) {
        fs::create_directories(dir.file(folder));
        MachineConfig m;
        m.name = name;
        m.port = "/dev/" + name;
        m.folder = dir.file(folder);
        m.incoming = dir.file(folder + "/incoming");
        m.request = kDefaultRequest;
        return m;
    }
    void run(int ms) {
        for (int t = 0; t < ms; t += 5) {
            shop.runOnce(-1, 0);
            clock.advance(5);
        }
    }
    size_t opens(const std::string& name) const {
        const MemorySerialPort* port = ports.at(name);
        return std::count_if(port->calls.begin(), port->calls.end(),
                             [](const MemorySerialPort::Call& c) { return c.op == "open"; });
    }

    test::TempDir dir;
    FakeClock clock;
    Journal journal;
    std::map<std::string, MemorySerialPort*> ports;  // by device; the last one made
    std::map<std::string, bool> released;           // closed and given up
    Shop shop{clock, journal, [this](const std::string& device) {
                  const std::string name = device.substr(5);
                  auto port = std::make_unique<KeptPort>(released[name]);
                  ports[name] = port.get();
                  return port;
              }};
};

TEST_F(ShopReloadTest, ChangedMachinesFinishFirstAndKeepTheirLineTheOthersAreUntouched) {
    ShopConfig first;
    first.machines = {machine("mill", "a"), machine("lathe", "b"), machine("drill", "d")};
    shop.apply(first);
    run(100);
    MemorySerialPort* mill = ports.at("mill");
    MemorySerialPort* drill = ports.at("drill");
    mill->queueInput("%\r\nO1\r\nG01 X1\r\n");
    drill->queueInput("%\r\nO4\r\n");
    run(1000);

    ShopConfig second;
    second.machines = {machine("mill", "c"), machine("drill", "d"), machine("saw", "e")};
    shop.apply(second);
    run(500);
    // The mill's program, begun under the old settings, ends there.
    mill->queueInput("M30\r\n%");
    drill->queueInput("G00 X4\r\n%");
    run(3000);
    EXPECT_EQ(fileBytes(dir.file("a/incoming/O1.nc")), "%\r\nO1\r\nG01 X1\r\nM30\r\n%");
    EXPECT_EQ(fileBytes(dir.file("d/incoming/O4.nc")), "%\r\nO4\r\nG00 X4\r\n%");

    // Then it runs with the new ones, on the line it had, and the machine
    // that was removed has let its line go.
    mill->queueInput("%\r\nO2\r\n%");
    run(2000);
    EXPECT_EQ(fileBytes(dir.file("c/incoming/O2.nc")), "%\r\nO2\r\n%");
    EXPECT_EQ(ports.at("mill"), mill);
    EXPECT_EQ(opens("mill"), 1u);
    EXPECT_EQ(opens("drill"), 1u);
    EXPECT_TRUE(released["lathe"]);
    EXPECT_FALSE(released["mill"]);
    EXPECT_TRUE(ports.at("saw")->open);
    std::vector<std::string> names;
    for (const MachineState& s : shop.states()) names.push_back(s.name + ": " + s.state);
    EXPECT_EQ(names, (std::vector<std::string>{"mill: listening", "drill: listening",
                                               "saw: listening"}));
}

}  // namespace
}  // namespace fbx::shop
