// Key scripts of the drive tool: ranges, overlaps, names and faults.
#include <gtest/gtest.h>

#include "drive_run.h"
#include "drive_script.h"
#include "platform/win32/keyboard.h"

namespace {

std::set<int> HeldOn(const DriveScript& s, std::uint64_t frame) {
    auto it = s.keys.upper_bound(frame);
    if (it == s.keys.begin()) return {};
    return std::prev(it)->second;
}

TEST(DriveScript, RangesIncludeBothEndsAndOverlapsHoldBothKeySets) {
    DriveScript s;
    std::string error;
    ASSERT_TRUE(ParseDriveScript("# comment\n2-5 G left  # trailing\n\n4-6 Right f\n9-9 V\n", &s, &error)) << error;
    EXPECT_FALSE(s.empty);
    EXPECT_EQ(s.lastFrame, 9u);
    EXPECT_EQ(HeldOn(s, 0), (std::set<int>{}));
    EXPECT_EQ(HeldOn(s, 2), (std::set<int>{'G', VK_LEFT}));
    EXPECT_EQ(HeldOn(s, 4), (std::set<int>{'G', VK_LEFT, VK_RIGHT, 'F'}));
    EXPECT_EQ(HeldOn(s, 6), (std::set<int>{VK_RIGHT, 'F'}));
    EXPECT_EQ(HeldOn(s, 7), (std::set<int>{}));
    EXPECT_EQ(HeldOn(s, 9), (std::set<int>{'V'}));
    EXPECT_EQ(HeldOn(s, 10), (std::set<int>{})) << "keys are let go after the last range";

    DriveScript k;
    ASSERT_TRUE(ParseDriveKeys("0-0 A;1-3 Z S X Q W E", &k, &error)) << error;
    EXPECT_EQ(HeldOn(k, 0), (std::set<int>{'A'}));
    EXPECT_EQ(HeldOn(k, 3), (std::set<int>{'Z', 'S', 'X', 'Q', 'W', 'E'}));
    DriveScript none;
    ASSERT_TRUE(ParseDriveKeys("", &none, &error));
    EXPECT_TRUE(none.empty);
}

TEST(DriveScript, FaultsNameTheLine) {
    const char* bad[] = {"0-1 H", "5-2 G", "1 G", "a-3 G", "-1-3 G", "0-99999999999999999999 G", "0-3- G"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        DriveScript s;
        std::string error;
        EXPECT_FALSE(ParseDriveScript(std::string("0-1 G\n") + text, &s, &error));
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
    DriveScript s;
    std::string error;
    EXPECT_FALSE(ParseDriveKeys("0-1 G;2-1 F", &s, &error));
    EXPECT_NE(error.find("entry 2"), std::string::npos) << error;
}

TEST(DriveScript, PercentilesByNearestRank) {
    EXPECT_EQ(Percentile({}, 0.5), 0.0);
    EXPECT_EQ(Percentile({7}, 0.95), 7.0);
    std::vector<double> v;
    for (int i = 100; i >= 1; --i) v.push_back(i);
    EXPECT_EQ(Percentile(v, 0.5), 50.0);
    EXPECT_EQ(Percentile(v, 0.95), 95.0);
}

}  // namespace
