// Feeds arbitrary bytes to the shop service's configuration reader as the
// text of shop.ini and checks what must hold for any file:
//   - reading the same text twice gives the same machines and problems;
//   - every machine that is started has a plain name of its own, a line of
//     its own, absolute folders, a request pattern with one group and line
//     parameters the serial layer offers;
//   - no section is both started and refused, and every refused section has
//     a problem that names it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "ProgramNames.h"
#include "RequestMatcher.h"
#include "ShopConfig.h"

namespace {
constexpr const char* kFuzzTarget = "fuzz_shop_ini";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fbx::shop;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ShopConfig config = parseShopConfig(text, "/tmp");
    const ShopConfig again = parseShopConfig(text, "/tmp");
    CHECK(config.machines == again.machines);
    CHECK(config.refused == again.refused);
    CHECK(config.problems.size() == again.problems.size());

    std::set<std::string> names, ports;
    for (const MachineConfig& m : config.machines) {
        CHECK(names.insert(m.name).second);
        CHECK(ports.insert(m.port).second);
        CHECK(!m.name.empty() && m.name.size() <= 64 && m.name[0] != '.');
        CHECK(m.name.find('/') == std::string::npos && m.name.find('\t') == std::string::npos);
        CHECK(!m.port.empty() && m.port[0] == '/');
        CHECK(!m.folder.empty() && m.folder[0] == '/');
        CHECK(!m.incoming.empty() && m.incoming[0] == '/');
        CHECK(RequestMatcher::check(m.request).empty());
        CHECK(m.dataBits == 7 || m.dataBits == 8);
        CHECK(m.stopBits == 1 || m.stopBits == 2);
        CHECK(m.parity == 'n' || m.parity == 'e' || m.parity == 'o');
        CHECK(m.handshake == "Soft" || m.handshake == "Brix");
        CHECK(m.baud >= 1200 && m.baud <= 38400 && 38400 % m.baud == 0);
        CHECK(m.idleSeconds >= 0.5 && m.idleSeconds <= 3600);
        CHECK(std::find(config.refused.begin(), config.refused.end(), m.name) ==
              config.refused.end());
    }
    for (const std::string& refused : config.refused) {
        CHECK(std::any_of(config.problems.begin(), config.problems.end(),
                          [&](const ConfigProblem& p) { return p.section == refused; }));
    }
    CHECK(!config.service.journal.empty() && config.service.journal[0] == '/');
    CHECK(!config.service.stateFile.empty() && config.service.stateFile[0] == '/');
    return 0;
}
