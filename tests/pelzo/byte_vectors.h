// Byte vectors written out by hand, shared by both sides' wire tests.
#pragma once

#include <initializer_list>
#include <string>

inline std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (int b : list)
        out.push_back(static_cast<char>(b));
    return out;
}
