// The fixed-point frame pacer against a clock driven by hand: each reading
// during the spin advances it by one millisecond, a Sleep by its length.
#include <gtest/gtest.h>

#include <vector>

#include "app/frame_pacer.h"
#include "platform/win32/timer.h"
#include "scene/scene.h"

namespace {

DWORD clockNow = 0;
int readings = 0;
std::vector<DWORD> sleeps;
bool spinAdvances = true;

DWORD Read() {
    ++readings;
    DWORD now = clockNow;
    if (spinAdvances && readings > 1) ++clockNow;  // the first reading of a call is 'now'
    return now;
}
void SleepFor(DWORD ms) {
    sleeps.push_back(ms);
    clockNow += ms;
}

class Pacer : public ::testing::Test {
protected:
    void SetUp() override {
        SetTimeSourceForTesting(Read, SleepFor);
        sleeps.clear();
        readings = 0;
    }
    void TearDown() override {
        SetTimeSourceForTesting(nullptr, nullptr);
        SetFramePacerStateForTesting({0, 0, 0});
    }
    void Pace() {
        readings = 0;
        scene.PaceFrame();
    }
};

TEST_F(Pacer, ZeroPeriodOnlyRecordsTheTime) {
    SetFramePacerStateForTesting({0, 0, 0});
    for (DWORD t : {100u, 101u, 5000u, 5000u}) {
        clockNow = t;
        Pace();
        EXPECT_EQ(readings, 1);
        EXPECT_EQ(GetFramePacerState().lastFrameTime, t);
    }
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(GetFramePacerState().framePeriod, 0u);
}

TEST_F(Pacer, SixteenAndAHalfMillisecondsReleasesSixteenAndSeventeenInTurn) {
    const DWORD period = 16 * 65536 + 32768;  // 16.5 ms
    clockNow = 1000;
    SetFramePacerStateForTesting({period, 0, 1000});
    std::vector<DWORD> releases;
    for (int i = 0; i < 6; ++i) {
        Pace();
        releases.push_back(GetFramePacerState().lastFrameTime);
    }
    EXPECT_EQ(releases, (std::vector<DWORD>{1016, 1033, 1049, 1066, 1082, 1099}));
    // Each wait sleeps to 3 ms short of the deadline, then spins.
    EXPECT_EQ(sleeps.front(), 13u);
}

TEST_F(Pacer, LateFrameIsReleasedAtOnceFromNow) {
    const DWORD period = 16 * 65536;
    clockNow = 2000;
    SetFramePacerStateForTesting({period, 0, 1970});
    Pace();
    EXPECT_EQ(readings, 1);
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(GetFramePacerState().lastFrameTime, 2000u);
}

TEST_F(Pacer, UnderFourMillisecondsLeftOnlySpins) {
    const DWORD period = 16 * 65536;
    clockNow = 1013;  // 3 ms remain
    SetFramePacerStateForTesting({period, 0, 1000});
    Pace();
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(GetFramePacerState().lastFrameTime, 1016u);
    clockNow = 1016 + 12;  // exactly 4 ms remain: sleeps 1
    Pace();
    EXPECT_EQ(sleeps, std::vector<DWORD>{1});
    EXPECT_EQ(GetFramePacerState().lastFrameTime, 1032u);
}

TEST_F(Pacer, TheClockWrapIsHarmless) {
    const DWORD period = 16 * 65536;
    clockNow = 0xFFFFFFFAu;
    SetFramePacerStateForTesting({period, 0, 0xFFFFFFF8u});
    Pace();
    EXPECT_EQ(GetFramePacerState().lastFrameTime, 8u);
    EXPECT_EQ(sleeps, std::vector<DWORD>{11});
}

TEST_F(Pacer, DeadlineNotWakingTimeIsKept) {
    // A sleep that overshoots by 2 ms: the next deadline still counts from
    // the previous deadline.
    const DWORD period = 20 * 65536;
    clockNow = 1000;
    SetFramePacerStateForTesting({period, 0, 1000});
    SetTimeSourceForTesting(Read, [](DWORD ms) {
        sleeps.push_back(ms);
        clockNow += ms + 5;  // wakes after the deadline
    });
    Pace();
    EXPECT_EQ(GetFramePacerState().lastFrameTime, 1020u);
    EXPECT_GT(clockNow, 1020u);
}

}  // namespace
