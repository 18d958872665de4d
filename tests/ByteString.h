#pragma once

#include <initializer_list>
#include <string>

namespace fbx::test {

// A byte string written as numbers: bytes({255, 250, 44}).
inline std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

}  // namespace fbx::test
