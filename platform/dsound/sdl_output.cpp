#include <SDL.h>

#include <cstring>

#include "platform/dsound/output.h"

namespace {
// What one opened device renders: the mixer and the format the device was
// opened with (which the mixer's own format may already have left behind).
struct Feed {
    Mixer* mixer;
    MixFormat format;
};

void Pull(void* user, Uint8* stream, int length) {
    auto* feed = static_cast<Feed*>(user);
    int frameBytes = feed->format.BlockAlign();
    int frames = frameBytes > 0 ? length / frameBytes : 0;
    feed->mixer->Render(stream, DWORD(frames), feed->format);
    if (frames * frameBytes < length)
        std::memset(stream + frames * frameBytes, feed->format.bits == 8 ? 0x80 : 0,
                    size_t(length - frames * frameBytes));
}

class SdlOutput final : public SoundOutput {
public:
    explicit SdlOutput(Mixer* mixer) : mixer_(mixer) {}
    ~SdlOutput() override {
        Close();
        if (started_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool Start(const MixFormat& format) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        started_ = true;
        return Open(format);
    }

    bool Reopen(const MixFormat& format) override {
        MixFormat previous = feed_ ? feed_->format : format;
        Close();
        if (Open(format)) return true;
        Open(previous);
        return false;
    }

private:
    bool Open(const MixFormat& format) {
        auto feed = std::make_unique<Feed>(Feed{mixer_, format});
        SDL_AudioSpec want{}, have{};
        want.freq = int(format.rate);
        want.format = format.bits == 16 ? AUDIO_S16SYS : AUDIO_U8;
        want.channels = Uint8(format.channels);
        want.samples = 512;  // about 23 ms at 22050 Hz
        want.callback = Pull;
        want.userdata = feed.get();
        // No changes allowed: SDL converts to whatever the hardware takes.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) return false;
        feed_ = std::move(feed);
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    void Close() {
        // Waits for a running callback, so the feed can go afterwards.
        if (device_ != 0) SDL_CloseAudioDevice(device_);
        device_ = 0;
        feed_.reset();
    }

    Mixer* mixer_;
    bool started_ = false;
    SDL_AudioDeviceID device_ = 0;
    std::unique_ptr<Feed> feed_;
};
}  // namespace

std::unique_ptr<SoundOutput> OpenSdlOutput(Mixer* mixer, const MixFormat& format) {
    auto output = std::make_unique<SdlOutput>(mixer);
    if (!output->Start(format)) return nullptr;
    return output;
}
