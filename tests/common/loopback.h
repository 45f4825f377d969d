// Helpers for tests that serve on loopback: every test gets its own 127.x.y.z
// address, so tests that bind the fixed UDP port can run in parallel.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace testing_support {

// A loopback address in 127.<base>.y.z derived from the running test's name.
inline std::string uniqueLoopbackAddress(int base) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    uint32_t h = uint32_t(std::hash<std::string>{}(name));
    return "127." + std::to_string(base) + "." + std::to_string((h >> 8) % 250 + 1) + "." +
           std::to_string(h % 250 + 2);
}

inline uint32_t ipv4(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return a.s_addr;
}

}  // namespace testing_support
