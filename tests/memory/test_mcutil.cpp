#include "memory/MCUtil.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    std::int64_t bytes;
    const char* text;
};

class FriendlySize : public ::testing::TestWithParam<Case> {};

TEST_P(FriendlySize, FormatsLikePeopleRead) {
    EXPECT_EQ(MCUtil::friendlySizeNumber(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FriendlySize,
    ::testing::Values(Case{0, "0 B"}, Case{-1, "-1 B"}, Case{-5000000000, "-5000000000 B"},
                      Case{1024, "1024 B"}, Case{1025, "1.00 KB"}, Case{1030, "1.01 KB"},
                      Case{1536, "1.50 KB"}, Case{1048575, "1024.00 KB"},
                      Case{1048576, "1024.00 KB"}, Case{1048577, "1.00 MB"},
                      Case{10485760, "10.00 MB"}, Case{1073741824, "1024.00 MB"},
                      // The float of 2^30 + 64 is 2^30 exactly; + 65 rounds above it.
                      Case{1073741888, "1024.00 MB"}, Case{1073741889, "1.00 GB"},
                      Case{5905580032, "5.50 GB"}, Case{8589934592, "8.00 GB"},
                      Case{123456789012, "114.98 GB"}, Case{2199023255552, "2048.00 GB"},
                      Case{INT64_MAX, "8589934592.00 GB"},
                      Case{INT64_MIN, "-9223372036854775808 B"}));

} // namespace
