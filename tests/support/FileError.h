// The library's last file error, read as a host reads it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "include/rcnet.h"

namespace rcnet::test {

inline std::string LastFileError() {
    std::vector<char> buffer(20000);
    EXPECT_EQ(GetLastFileError(buffer.data(), static_cast<int>(buffer.size())), 1);
    return buffer.data();
}

}  // namespace rcnet::test
