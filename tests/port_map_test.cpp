#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "DeviceName.h"
#include "PortMap.h"
#include "TempDir.h"

using namespace fbx;

TEST(DeviceName, KindsHostsAndPorts) {
    EXPECT_EQ(parseDeviceName("tcp://[::1]:65535").endpoint(), "[::1]:65535");
    for (const char* bad :
         {"", "rfc2217://host", "tcp://host:0", "tcp://host:65536", "tcp://host:12x", "tcp://:4001",
          "tcp://::1:4001", "telnet://host:23", "rfc2217://host:4001/extra", "tcp://[::1]4001"})
        EXPECT_FALSE(parseDeviceName(bad).why.empty()) << bad;
}

TEST(PortMap, LinesCommentsAndDamagedLines) {
    const std::string text =
        "# the shop's lines\r\n"
        "1=/dev/ttyUSB0\r\n"
        "\n"
        "  3 = rfc2217://10.0.0.5:4001   # lathe\n"
        "4=tcp://mill.local:23\n"
        "port five\n"        // line 6: no '='
        "0=/dev/ttyS9\n"     // line 7: no such port number
        "6=ftp://host:21\n"  // line 8: unknown kind
        "1=/dev/ttyS7\n"     // line 9: mapped before
        "7=\n"               // line 10: nothing
        "8=line8";           // relative, no line end
    PortMap map = parsePortMap(text, "ferobrixlan.ports", "/shop/");
    EXPECT_EQ(map.devices, (std::map<int, std::string>{{1, "/dev/ttyUSB0"},
                                                       {3, "rfc2217://10.0.0.5:4001"},
                                                       {4, "tcp://mill.local:23"},
                                                       {8, "/shop/line8"}}));
    ASSERT_EQ(map.problems.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(
            map.problems[i].rfind("ferobrixlan.ports, line " + std::to_string(i + 6) + ":", 0), 0u)
            << map.problems[i];
}

// The lookup: the environment variable wins, then the file, then the
// system's serial ports; a damaged line is told once, not at every lookup.
TEST(PortMap, LookupOrderAndOneReportPerDamagedLine) {
    test::TempDir dir;
    std::vector<std::string> reports;
    PortMapReporter before =
        setPortMapReporter([&](const std::string& p) { reports.push_back(p); });
    unsetenv("FEROBRIXLAN_PORT2");
    unsetenv("FEROBRIXLAN_PORT3");
    EXPECT_EQ(mappedDevice(3, dir.path()), "/dev/ttyS2");  // no file
    std::ofstream(dir.file(kPortMapFileName)) << "2=rfc2217://127.0.0.1:4001\nbroken\n";
    EXPECT_EQ(mappedDevice(2, dir.path()), "rfc2217://127.0.0.1:4001");
    EXPECT_EQ(mappedDevice(3, dir.path()), "/dev/ttyS2");
    checkPortMap(dir.path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(dir.file(kPortMapFileName) + ", line 2"), std::string::npos);
    setenv("FEROBRIXLAN_PORT2", "/dev/ttyUSB1", 1);
    EXPECT_EQ(mappedDevice(2, dir.path()), "/dev/ttyUSB1");
    unsetenv("FEROBRIXLAN_PORT2");
    EXPECT_EQ(mappedDevice(0, dir.path()), "");
    setPortMapReporter(before);
}
