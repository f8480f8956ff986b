#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/dsound/sound_output.h"
#include "sound/sound_set.h"
#include "tests/sound/wave_bytes.h"

using namespace wavetest;
namespace fs = std::filesystem;

namespace {
struct Box {
    HWND owner;
    std::string text, caption;
    UINT type;
};
std::vector<Box> boxes;
int RecordBox(HWND owner, const char* text, const char* caption, UINT type) {
    boxes.push_back({owner, text, caption, type});
    return IDOK;
}

std::vector<int16_t> Tone(size_t n, int channels, double cyclesPerSample) {
    std::vector<int16_t> s(n * channels);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * channels + c] = int16_t(8000 * std::sin(6.283185307 * cyclesPerSample * i));
    return s;
}

// A working directory with the four sounds, capture output, a journal and a
// message-box recorder; everything is put back afterwards.
class SoundSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vintrel-soundset-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_ / "media");
        Write("eng2.wav", Pcm16(1, 22050, Tone(2205, 1, 0.01)));
        Write("Get_Closer.wav", Pcm16(2, 22050, Tone(4410, 2, 0.02)));
        Write("puffs.wav", Pcm16(1, 22050, Tone(3000, 1, 0.05)));
        Write("out.wav", Pcm16(1, 11025, Tone(1100, 1, 0.03)));
        previous_ = fs::current_path();
        fs::current_path(dir_);
        SelectSoundOutput(SoundOutputMode::Capture);
        EnableSoundJournal(true);
        boxes.clear();
        oldHandler_ = SetMessageBoxHandler(RecordBox);
    }
    void TearDown() override {
        SetMessageBoxHandler(oldHandler_);
        EnableSoundJournal(false);
        SelectSoundOutput(SoundOutputMode::Automatic);
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    void Write(const char* name, const Bytes& bytes) {
        std::ofstream(dir_ / "media" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void Mix(SoundSet& set, DWORD frames) {
        std::vector<int16_t> out(frames * 2);
        ASSERT_EQ(CaptureSoundFrames(set.directSound, out.data(), frames), DS_OK);
    }
    static DWORD Position(IDirectSoundBuffer8* buffer) {
        DWORD play = 0;
        EXPECT_EQ(buffer->GetCurrentPosition(&play, nullptr), DS_OK);
        return play;
    }
    static DWORD Status(IDirectSoundBuffer8* buffer) {
        DWORD status = 0;
        EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
        return status;
    }

    fs::path dir_, previous_;
    MessageBoxHandler oldHandler_ = nullptr;
    HWND window_ = reinterpret_cast<HWND>(0x1234);
};
}  // namespace

TEST_F(SoundSetTest, SetUpCallsInOrder) {
    SoundSet set;
    ASSERT_EQ(set.InitSound(window_), 1);
    EXPECT_TRUE(boxes.empty());
    const std::vector<std::string> expected = {
        "DirectSoundCreate8()",
        "SetCooperativeLevel(2)",
        "CreateSoundBuffer(0xC1, 0)",
        "#0 SetFormat(1, 2, 22050, 88200, 4, 16)",
        "CreateSoundBuffer(0x580E0, 4410)",
        "#1 Lock(0, 4410, 0)",
        "#1 Unlock(4410, 0)",
        "CreateSoundBuffer(0x580E0, 17640)",
        "#2 Lock(0, 17640, 0)",
        "#2 Unlock(17640, 0)",
        "CreateSoundBuffer(0x580E0, 6000)",
        "#3 Lock(0, 6000, 0)",
        "#3 Unlock(6000, 0)",
        "CreateSoundBuffer(0x580E0, 2200)",
        "#4 Lock(0, 2200, 0)",
        "#4 Unlock(2200, 0)",
        "#1 Play(0, 0, 1)",
        "#1 SetVolume(-1000)",
        "#3 SetVolume(-2600)",
        "#3 SetFrequency(33075)",
        "#4 SetVolume(-1500)",
        "#2 Play(0, 0, 1)",
    };
    EXPECT_EQ(TakeSoundJournal(), expected);

    // The state behind the journal: the off-course sound keeps its file's rate.
    LONG volume = 0;
    DWORD frequency = 0;
    ASSERT_EQ(set.shiftBuffer->GetVolume(&volume), DS_OK);
    EXPECT_EQ(volume, -2600);
    ASSERT_EQ(set.offCourseBuffer->GetFrequency(&frequency), DS_OK);
    EXPECT_EQ(frequency, 11025u);
    EXPECT_EQ(Status(set.engineBuffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING | DSBSTATUS_LOCSOFTWARE);
    EXPECT_EQ(Status(set.musicBuffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING | DSBSTATUS_LOCSOFTWARE);
    EXPECT_EQ(Status(set.shiftBuffer), 0u);
    EXPECT_EQ(Status(set.offCourseBuffer), 0u);

    WAVEFORMATEX primary{};
    ASSERT_EQ(set.primaryBuffer->GetFormat(&primary, sizeof primary, nullptr), DS_OK);
    EXPECT_EQ(primary.nSamplesPerSec, 22050u);
    EXPECT_EQ(primary.wBitsPerSample, 16);
    EXPECT_EQ(primary.nChannels, 2);

    // The buffers hold the files' samples.
    std::vector<int16_t> music = Tone(4410, 2, 0.02);
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD b1 = 0, b2 = 0;
    ASSERT_EQ(set.musicBuffer->Lock(0, 0, &p1, &b1, &p2, &b2, DSBLOCK_ENTIREBUFFER), DS_OK);
    ASSERT_EQ(b1, 17640u);
    EXPECT_EQ(std::memcmp(p1, music.data(), b1), 0);
    set.musicBuffer->Unlock(p1, b1, p2, b2);

    // The loops are heard: engine and music mixed together.
    std::vector<int16_t> out(2 * 4096);
    ASSERT_EQ(CaptureSoundFrames(set.directSound, out.data(), 4096), DS_OK);
    double energy = 0;
    for (int16_t s : out) energy += double(s) * s;
    EXPECT_GT(std::sqrt(energy / out.size()), 1000.0);
}

TEST_F(SoundSetTest, EngineFrequencyFollowsTheEngineSpeed) {
    SoundSet set;
    ASSERT_EQ(set.InitSound(window_), 1);
    TakeSoundJournal();
    DWORD frequency = 0;
    set.UpdateEngineSound(1000.0f);
    ASSERT_EQ(set.engineBuffer->GetFrequency(&frequency), DS_OK);
    EXPECT_EQ(frequency, 17025u);
    set.UpdateEngineSound(9500.0f);
    ASSERT_EQ(set.engineBuffer->GetFrequency(&frequency), DS_OK);
    EXPECT_EQ(frequency, 68025u);
    set.UpdateEngineSound(1234.56f);  // 7407.36 truncated
    ASSERT_EQ(set.engineBuffer->GetFrequency(&frequency), DS_OK);
    EXPECT_EQ(frequency, 18432u);
    EXPECT_EQ(TakeSoundJournal(),
              (std::vector<std::string>{"#1 SetFrequency(17025)", "#1 SetFrequency(68025)",
                                        "#1 SetFrequency(18432)"}));
    // The engine keeps looping at the new rate: 22050 output frames at
    // 18432 Hz step through 18432 source frames (8.36 passes of 2205).
    DWORD before = Position(set.engineBuffer);
    Mix(set, 22050);
    EXPECT_EQ(Position(set.engineBuffer), (before + 18432 * 2) % 4410);
    EXPECT_TRUE(Status(set.engineBuffer) & DSBSTATUS_PLAYING);
}

TEST_F(SoundSetTest, ShiftSoundResumesWhereItStopped) {
    SoundSet set;
    ASSERT_EQ(set.InitSound(window_), 1);
    TakeSoundJournal();
    set.TriggerShiftSound();
    EXPECT_EQ(TakeSoundJournal(), (std::vector<std::string>{"#3 Stop()", "#3 Play(0, 0, 0)"}));
    EXPECT_EQ(Status(set.shiftBuffer), DSBSTATUS_PLAYING | DSBSTATUS_LOCSOFTWARE);

    // 33075 Hz against 22050: 1.5 source frames per output frame.
    Mix(set, 400);
    EXPECT_EQ(Position(set.shiftBuffer), 600u * 2);
    // A second gear change within the sound: it goes on from there.
    set.TriggerShiftSound();
    EXPECT_EQ(Position(set.shiftBuffer), 600u * 2);
    Mix(set, 400);
    EXPECT_EQ(Position(set.shiftBuffer), 1200u * 2);

    // Played to its end it stops, back at the start, and the next change
    // plays it from the beginning.
    Mix(set, 2000);
    EXPECT_EQ(Status(set.shiftBuffer), 0u);
    EXPECT_EQ(Position(set.shiftBuffer), 0u);
    set.TriggerShiftSound();
    Mix(set, 100);
    EXPECT_EQ(Position(set.shiftBuffer), 150u * 2);
}

TEST_F(SoundSetTest, OffCourseLoopFollowsTheFlagEdges) {
    SoundSet set;
    ASSERT_EQ(set.InitSound(window_), 1);
    TakeSoundJournal();

    set.UpdateOffCourseSound(false, false);
    EXPECT_TRUE(TakeSoundJournal().empty());
    set.UpdateOffCourseSound(true, false);  // leaves the course
    EXPECT_EQ(TakeSoundJournal(),
              (std::vector<std::string>{"#4 Stop()", "#4 Play(0, 0, 1)"}));
    EXPECT_EQ(Status(set.offCourseBuffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING | DSBSTATUS_LOCSOFTWARE);
    set.UpdateOffCourseSound(true, true);  // still off
    EXPECT_TRUE(TakeSoundJournal().empty());

    // 11025 Hz on 22050: half a source frame per output frame; the loop of
    // 1100 frames wraps.
    Mix(set, 2500);
    EXPECT_EQ(Position(set.offCourseBuffer), 150u * 2);
    set.UpdateOffCourseSound(false, true);  // back on the road
    EXPECT_EQ(TakeSoundJournal(), (std::vector<std::string>{"#4 Stop()"}));
    EXPECT_EQ(Status(set.offCourseBuffer), 0u);
    Mix(set, 1000);
    EXPECT_EQ(Position(set.offCourseBuffer), 150u * 2);  // stopped where it was

    set.UpdateOffCourseSound(true, false);  // off again: continues from there
    Mix(set, 100);
    EXPECT_EQ(Position(set.offCourseBuffer), 200u * 2);
}

TEST_F(SoundSetTest, MissingShiftSoundLeavesTheOthers) {
    fs::remove(dir_ / "media" / "puffs.wav");
    SoundSet set;
    ASSERT_EQ(set.InitSound(window_), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Waveファイルのオープンに失敗");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(set.shiftBuffer, nullptr);
    ASSERT_NE(set.engineBuffer, nullptr);
    ASSERT_NE(set.musicBuffer, nullptr);
    ASSERT_NE(set.offCourseBuffer, nullptr);
    EXPECT_TRUE(Status(set.engineBuffer) & DSBSTATUS_PLAYING);
    EXPECT_TRUE(Status(set.musicBuffer) & DSBSTATUS_PLAYING);
    TakeSoundJournal();
    set.TriggerShiftSound();  // silent
    EXPECT_TRUE(TakeSoundJournal().empty());
}

TEST_F(SoundSetTest, UnplayableFileShowsTheBufferMessage) {
    // A wave the device cannot play (32-bit float) opens but makes no buffer.
    Bytes data(400, 0);
    Write("out.wav", Riff({Chunk("fmt ", Fmt(3, 1, 22050, 32)), Chunk("data", data)}));
    SoundSet set;
    ASSERT_EQ(set.InitSound(window_), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "バッファの作成に失敗");
    EXPECT_EQ(set.offCourseBuffer, nullptr);
    set.UpdateOffCourseSound(true, false);
}

TEST_F(SoundSetTest, NoDeviceShowsTheFirstMessageOnly) {
    SelectSoundOutput(SoundOutputMode::None);
    SoundSet set;
    EXPECT_EQ(set.InitSound(window_), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "IDirectSound8インターフェイスの取得に失敗");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(set.directSound, nullptr);
    EXPECT_EQ(set.primaryBuffer, nullptr);
    EXPECT_EQ(set.engineBuffer, nullptr);
    EXPECT_EQ(set.musicBuffer, nullptr);
    // Every frame's calls are skipped.
    set.UpdateEngineSound(3000.0f);
    set.TriggerShiftSound();
    set.UpdateOffCourseSound(true, false);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(SoundSetTest, NoWindowStopsAtTheCooperativeLevel) {
    SoundSet set;
    EXPECT_EQ(set.InitSound(nullptr), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "協調レベルの設定に失敗");
    EXPECT_NE(set.directSound, nullptr);
    EXPECT_EQ(set.primaryBuffer, nullptr);
}
