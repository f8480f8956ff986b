// What the mixer produces, measured from captured output.
#include "tests/dsound/sound_test_util.h"

using namespace soundtest;

TEST(Mixer, SinePitchLevelVolumeAndPan) {
    CaptureDevice device;
    // One second of 1000 Hz at 44100 Hz loops seamlessly.
    IDirectSoundBuffer8* tone = device.Buffer(Sine(1000, 44100, 44100, 0.5), 1, 44100);
    ASSERT_EQ(tone->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    device.Mix(1000);  // past the start

    std::vector<int16_t> out = device.Mix(22050);
    for (WORD c = 0; c < 2; ++c) {
        std::vector<double> x = Channel(out, 2, c);
        EXPECT_NEAR(Pitch(x, 22050), 1000.0, 0.2);
        EXPECT_NEAR(AmplitudeAt(x, 1000, 22050), 0.5, 0.005);
    }

    // Played at one and a half times its rate: 1500 Hz.
    ASSERT_EQ(tone->SetFrequency(66150), DS_OK);
    out = device.Mix(22050);
    EXPECT_NEAR(Pitch(Channel(out, 2, 0), 22050), 1500.0, 0.3);
    EXPECT_NEAR(AmplitudeAt(Channel(out, 2, 0), 1500, 22050), 0.5, 0.005);

    // -6 dB: 10^(-600/2000) of the level.
    ASSERT_EQ(tone->SetVolume(-600), DS_OK);
    out = device.Mix(22050);
    EXPECT_NEAR(AmplitudeAt(Channel(out, 2, 0), 1500, 22050), 0.5 * std::pow(10, -0.3), 0.003);

    // Pan -2000: the right side 20 dB down, the left untouched.
    ASSERT_EQ(tone->SetVolume(0), DS_OK);
    ASSERT_EQ(tone->SetPan(-2000), DS_OK);
    out = device.Mix(22050);
    EXPECT_NEAR(AmplitudeAt(Channel(out, 2, 0), 1500, 22050), 0.5, 0.005);
    EXPECT_NEAR(AmplitudeAt(Channel(out, 2, 1), 1500, 22050), 0.05, 0.001);

    // The primary buffer's volume scales everything.
    ASSERT_EQ(tone->SetPan(0), DS_OK);
    ASSERT_EQ(device.primary->SetVolume(-2000), DS_OK);
    out = device.Mix(22050);
    EXPECT_NEAR(AmplitudeAt(Channel(out, 2, 1), 1500, 22050), 0.05, 0.001);
    tone->Release();
}

TEST(Mixer, FasterThanTheOutputIsBandLimited) {
    CaptureDevice device;
    // 6000 Hz recorded at 44100 Hz, played at 88200 Hz, would be 12000 Hz:
    // above the output's 11025 Hz limit. Without band-limiting it would
    // fold back to 10050 Hz at nearly full level.
    IDirectSoundBuffer8* high = device.Buffer(Sine(6000, 44100, 44100, 0.5), 1, 44100);
    ASSERT_EQ(high->SetFrequency(88200), DS_OK);
    ASSERT_EQ(high->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    device.Mix(500);
    std::vector<double> x = Channel(device.Mix(22050), 2, 0);
    EXPECT_LT(AmplitudeAt(x, 10050, 22050), 0.5 * 0.005);  // at least 46 dB down
    EXPECT_LT(Peak(x), 0.5 * 0.01);
    ASSERT_EQ(high->Stop(), DS_OK);

    // Well inside the band the level is kept: 2500 Hz at 44100 Hz, played
    // at 88200 Hz, is 5000 Hz.
    IDirectSoundBuffer8* low = device.Buffer(Sine(2500, 44100, 44100, 0.5), 1, 44100);
    ASSERT_EQ(low->SetFrequency(88200), DS_OK);
    ASSERT_EQ(low->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    device.Mix(500);
    x = Channel(device.Mix(22050), 2, 0);
    EXPECT_NEAR(Pitch(x, 22050), 5000.0, 1.0);
    EXPECT_NEAR(AmplitudeAt(x, 5000, 22050), 0.5, 0.01);

    // The engine's top rate, 68025 Hz, on a 22050 Hz recording of 300 Hz.
    ASSERT_EQ(low->Stop(), DS_OK);
    IDirectSoundBuffer8* engine = device.Buffer(Sine(300, 22050, 22050, 0.5), 1, 22050);
    ASSERT_EQ(engine->SetFrequency(68025), DS_OK);
    ASSERT_EQ(engine->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    x = Channel(device.Mix(22050), 2, 0);
    EXPECT_NEAR(Pitch(x, 22050), 300.0 * 68025 / 22050, 1.0);
    EXPECT_NEAR(AmplitudeAt(x, 300.0 * 68025 / 22050, 22050), 0.5, 0.01);
    high->Release();
    low->Release();
    engine->Release();
}

TEST(Mixer, EqualRatesPassSamplesThroughAndOneShotsEnd) {
    CaptureDevice device;
    std::vector<int16_t> input = Sine(440, 22050, 1000, 0.7);
    input[10] = 32767;
    input[11] = -32768;
    IDirectSoundBuffer8* once = device.Buffer(input, 1, 22050);
    ASSERT_EQ(once->Play(0, 0, 0), DS_OK);
    std::vector<int16_t> out = device.Mix(1500);
    for (size_t i = 0; i < 1500; ++i) {
        int16_t want = i < 1000 ? input[i] : 0;
        ASSERT_EQ(out[2 * i], want) << "frame " << i;
        ASSERT_EQ(out[2 * i + 1], want) << "frame " << i;
    }
    DWORD status = 1, position = 1;
    ASSERT_EQ(once->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);
    ASSERT_EQ(once->GetCurrentPosition(&position, nullptr), DS_OK);
    EXPECT_EQ(position, 0u);

    // A short loop repeats exactly.
    std::vector<int16_t> stereo = Sine(1000, 22050, 100, 0.3, 2);
    for (size_t i = 0; i < 100; ++i) stereo[2 * i + 1] = int16_t(-stereo[2 * i + 1]);
    IDirectSoundBuffer8* loop = device.Buffer(stereo, 2, 22050);
    ASSERT_EQ(loop->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    out = device.Mix(1050);
    for (size_t i = 0; i < 1050; ++i) {
        ASSERT_EQ(out[2 * i], stereo[2 * (i % 100)]) << "frame " << i;
        ASSERT_EQ(out[2 * i + 1], stereo[2 * (i % 100) + 1]) << "frame " << i;
    }
    once->Release();
    loop->Release();
}

TEST(Mixer, StopAndPlayContinueFromTheStoppedPosition) {
    std::vector<int16_t> input = Sine(700, 32000, 32000, 0.4);
    CaptureDevice paused, straight;
    IDirectSoundBuffer8* a = paused.Buffer(input, 1, 32000);
    IDirectSoundBuffer8* b = straight.Buffer(input, 1, 32000);
    ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    std::vector<int16_t> first = paused.Mix(3001);
    ASSERT_EQ(a->Stop(), DS_OK);
    std::vector<int16_t> silence = paused.Mix(2000);
    for (int16_t s : silence) ASSERT_EQ(s, 0);
    ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::vector<int16_t> second = paused.Mix(4000);
    first.insert(first.end(), second.begin(), second.end());
    // The same as never having stopped.
    EXPECT_EQ(first, straight.Mix(7001));
    a->Release();
    b->Release();
}

TEST(Mixer, CallsWhileMixingComeAfterTheMixedBlock) {
    std::vector<int16_t> input = Sine(700, 22050, 22050, 0.4);
    // Stop (and Play) while a block is mixed: that block has been heard, so
    // the buffer goes on after it, not from where the block began.
    CaptureDevice paused, straight;
    IDirectSoundBuffer8* a = paused.Buffer(input, 1, 22050);
    IDirectSoundBuffer8* b = straight.Buffer(input, 1, 22050);
    ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::vector<int16_t> heard = paused.Mix(3001, 2, [&] {
        EXPECT_EQ(a->Stop(), DS_OK);
        EXPECT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    });
    std::vector<int16_t> next = paused.Mix(2000, 2, [&] { EXPECT_EQ(a->Stop(), DS_OK); });
    heard.insert(heard.end(), next.begin(), next.end());
    for (int16_t s : paused.Mix(500)) ASSERT_EQ(s, 0);
    ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    next = paused.Mix(1000);
    heard.insert(heard.end(), next.begin(), next.end());
    EXPECT_EQ(heard, straight.Mix(6001));

    // A position set meanwhile wins over the block's advance.
    heard = paused.Mix(700, 2, [&] { EXPECT_EQ(a->SetCurrentPosition(2 * 100), DS_OK); });
    DWORD position = 0, status = 0;
    ASSERT_EQ(a->GetCurrentPosition(&position, nullptr), DS_OK);
    EXPECT_EQ(position, 2u * 100);

    // A one-shot buffer that reaches its end in the block: made to loop
    // meanwhile, it loops on from its start; played again from its start
    // meanwhile (as a sound is restarted), it plays; left alone, it stops.
    std::vector<int16_t> shortSound(input.begin(), input.begin() + 1000);
    IDirectSoundBuffer8* once = paused.Buffer(shortSound, 1, 22050);
    for (int kind = 0; kind < 3; ++kind) {
        ASSERT_EQ(a->Stop(), DS_OK);
        ASSERT_EQ(once->SetCurrentPosition(0), DS_OK);
        ASSERT_EQ(once->Play(0, 0, 0), DS_OK);
        paused.Mix(1200, 2, [&] {
            if (kind == 0) {
                EXPECT_EQ(once->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
            } else if (kind == 1) {
                EXPECT_EQ(once->SetCurrentPosition(0), DS_OK);
                EXPECT_EQ(once->Play(0, 0, 0), DS_OK);
            }
        });
        ASSERT_EQ(once->GetStatus(&status), DS_OK);
        const DWORD want[] = {DSBSTATUS_PLAYING | DSBSTATUS_LOOPING, DSBSTATUS_PLAYING, 0};
        EXPECT_EQ(status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING), want[kind]) << "kind " << kind;
        ASSERT_EQ(once->GetCurrentPosition(&position, nullptr), DS_OK);
        EXPECT_EQ(position, 0u) << "kind " << kind;
        next = paused.Mix(10);
        for (size_t i = 0; i < 10; ++i)
            ASSERT_EQ(next[2 * i], kind < 2 ? shortSound[i] : 0) << "kind " << kind << " frame " << i;
        ASSERT_EQ(once->Stop(), DS_OK);
    }
    a->Release();
    b->Release();
    once->Release();
}

TEST(Mixer, SumsSaturate) {
    CaptureDevice device;
    std::vector<int16_t> square(2000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? -30000 : 30000;
    IDirectSoundBuffer8* one = device.Buffer(square, 1, 22050);
    IDirectSoundBuffer8* two = device.Buffer(square, 1, 22050);
    ASSERT_EQ(one->Play(0, 0, 0), DS_OK);
    ASSERT_EQ(two->Play(0, 0, 0), DS_OK);
    std::vector<int16_t> out = device.Mix(2000);
    for (size_t i = 0; i < 2000; ++i) {
        // Away from the edges (where the interpolation rings) both are full scale.
        if (i % 50 < 8 || i % 50 > 42) continue;
        ASSERT_EQ(out[2 * i], square[i] > 0 ? 32767 : -32768) << "frame " << i;
    }
    one->Release();
    two->Release();
}

TEST(Mixer, EightBitAndMonoFormats) {
    // The device's own primary format (before SetFormat) is 8-bit stereo.
    CaptureDevice device(22050, 2, false);
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0};
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), 0, 400, 0, &f, GUID_NULL};
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(device.sound->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    void* p1;
    void* p2;
    DWORD b1, b2;
    ASSERT_EQ(buffer->Lock(0, 400, &p1, &b1, &p2, &b2, 0), DS_OK);
    std::memset(p1, 128 + 64, b1);  // half scale, positive
    ASSERT_EQ(buffer->Unlock(p1, b1, p2, b2), DS_OK);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::vector<BYTE> out(2 * 100);
    ASSERT_EQ(CaptureSoundFrames(device.sound, out.data(), 100), DS_OK);
    for (BYTE b : out) EXPECT_EQ(b, 192);

    // A mono primary buffer takes the average of a stereo voice's sides.
    WAVEFORMATEX mono{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    ASSERT_EQ(device.primary->SetFormat(&mono), DS_OK);
    ASSERT_EQ(buffer->Stop(), DS_OK);
    std::vector<int16_t> sides(2 * 500);
    for (size_t i = 0; i < 500; ++i) sides[2 * i] = 20000, sides[2 * i + 1] = -10000;
    IDirectSoundBuffer8* stereo = device.Buffer(sides, 2, 22050);
    ASSERT_EQ(stereo->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    std::vector<int16_t> m = device.Mix(200, 1);
    for (int16_t s : m) EXPECT_EQ(s, 5000);
    buffer->Release();
    stereo->Release();
}
