// The sound device object, the primary buffer and secondary buffers over
// the software mixer.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/dsound/dsound.h"
#include "platform/dsound/mixer.h"
#include "platform/dsound/output.h"
#include "platform/dsound/sound_output.h"

namespace {
// ---- Output choice and the call journal ----------------------------------

std::mutex settingsMutex;
SoundOutputMode selectedMode = SoundOutputMode::Automatic;
bool journalEnabled = false;
std::vector<std::string> journal;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Note(const char* format, ...) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    if (!journalEnabled) return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    journal.emplace_back(line);
}

SoundOutputMode EffectiveMode() {
    SoundOutputMode mode = SelectedSoundOutput();
    if (mode != SoundOutputMode::Automatic) return mode;
    const char* env = std::getenv("VINTREL_AUDIO");
    if (env && std::strcmp(env, "capture") == 0) return SoundOutputMode::Capture;
    if (env && std::strcmp(env, "none") == 0) return SoundOutputMode::None;
    return SoundOutputMode::Device;
}

// ---- Shared device state -------------------------------------------------

struct DeviceState {
    Mixer mixer;
    std::unique_ptr<SoundOutput> output;  // null for capture; last, so it stops first
    DWORD level = 0;                      // cooperative level, 0 until set
    int nextBufferId = 1;
    ~DeviceState() { output.reset(); }
};

bool ValidPcm(const WAVEFORMATEX* f) {
    if (f->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (f->nChannels < 1 || f->nChannels > 2) return false;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
    if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return false;
    return f->nSamplesPerSec >= DSBFREQUENCY_MIN && f->nSamplesPerSec <= DSBFREQUENCY_MAX;
}

WAVEFORMATEX ToWaveFormat(const MixFormat& m) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = m.channels;
    f.nSamplesPerSec = m.rate;
    f.nBlockAlign = m.BlockAlign();
    f.nAvgBytesPerSec = m.rate * f.nBlockAlign;
    f.wBitsPerSample = m.bits;
    f.cbSize = 0;
    return f;
}

HRESULT CopyFormat(const WAVEFORMATEX& f, LPWAVEFORMATEX out, DWORD sizeAllocated,
                   LPDWORD sizeWritten) {
    if (!out && !sizeWritten) return DSERR_INVALIDPARAM;
    DWORD needed = sizeof(WAVEFORMATEX);
    if (out) {
        // A plain PCM record (16 bytes) is enough room too.
        if (sizeAllocated < sizeof(PCMWAVEFORMAT)) return DSERR_INVALIDPARAM;
        std::memcpy(out, &f, std::min<DWORD>(sizeAllocated, needed));
        needed = std::min<DWORD>(sizeAllocated, needed);
    }
    if (sizeWritten) *sizeWritten = needed;
    return DS_OK;
}

// The bytes a buffer holds, in its own format, and their float copy for
// the mixer. Shared by a buffer and its duplicates.
struct BufferData {
    WAVEFORMATEX format{};
    std::vector<BYTE> bytes;
    std::shared_ptr<SharedSamples> samples = std::make_shared<SharedSamples>();
    DWORD Frames() const { return DWORD(bytes.size() / format.nBlockAlign); }
};

// Converts the frames touching bytes [begin, end) into `block`.
void ConvertRange(const BufferData& data, SampleBlock& block, size_t begin, size_t end) {
    const size_t align = data.format.nBlockAlign, channels = data.format.nChannels;
    size_t first = begin / align, last = std::min<size_t>((end + align - 1) / align, data.Frames());
    for (size_t frame = first; frame < last; ++frame) {
        for (size_t c = 0; c < channels; ++c) {
            float v;
            if (data.format.wBitsPerSample == 16) {
                int16_t s;
                std::memcpy(&s, &data.bytes[frame * align + c * 2], 2);
                v = float(s) / 32768.0f;
            } else {
                v = (float(data.bytes[frame * align + c]) - 128.0f) / 128.0f;
            }
            block[frame * channels + c] = v;
        }
    }
}

// ---- Secondary buffers ---------------------------------------------------

class SoundBuffer final : public ComObject<IDirectSoundBuffer8> {
public:
    SoundBuffer(std::shared_ptr<DeviceState> device, std::shared_ptr<BufferData> data, DWORD flags,
                int id)
        : device_(std::move(device)), data_(std::move(data)), flags_(flags), id_(id) {
        voice_ = std::make_shared<Voice>();
        voice_->channels = data_->format.nChannels;
        voice_->frames = data_->Frames();
        voice_->samples = data_->samples;
        voice_->rate = data_->format.nSamplesPerSec;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        device_->mixer.AddVoice(voice_);
    }
    ~SoundBuffer() override {
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        device_->mixer.RemoveVoice(voice_.get());
    }

    // Makes a buffer sharing this one's data, with its settings, stopped at 0.
    SoundBuffer* Duplicate(int id) {
        auto* copy = new (std::nothrow) SoundBuffer(device_, data_, flags_, id);
        if (!copy) return nullptr;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        copy->voice_->rate = voice_->rate;
        copy->voice_->volume = voice_->volume;
        copy->voice_->pan = voice_->pan;
        return copy;
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectSoundBuffer ||
            riid == IID_IDirectSoundBuffer8) {
            AddRef();
            *out = static_cast<IDirectSoundBuffer8*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT GetCaps(LPDSBCAPS caps) override {
        if (!caps || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
        caps->dwFlags = (flags_ & ~DSBCAPS_LOCDEFER) | DSBCAPS_LOCSOFTWARE;
        caps->dwBufferBytes = DWORD(data_->bytes.size());
        caps->dwUnlockTransferRate = 0;
        caps->dwPlayCpuOverhead = 0;
        return DS_OK;
    }

    HRESULT GetCurrentPosition(LPDWORD play, LPDWORD write) override {
        if (!play && !write) return DSERR_INVALIDPARAM;
        const DWORD align = data_->format.nBlockAlign, size = DWORD(data_->bytes.size());
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        DWORD at = voice_->frame < voice_->frames ? voice_->frame * align : 0;
        if (play) *play = at;
        if (write) {
            // The mix works ahead of the play cursor by about 10 ms.
            DWORD lead = voice_->playing ? std::max<DWORD>(1, voice_->rate / 100) * align : 0;
            *write = DWORD((uint64_t(at) + lead) % size);
        }
        return DS_OK;
    }

    HRESULT GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) override {
        return CopyFormat(data_->format, format, sizeAllocated, sizeWritten);
    }

    HRESULT GetVolume(LPLONG volume) override {
        if (!volume) return DSERR_INVALIDPARAM;
        if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        *volume = voice_->volume;
        return DS_OK;
    }
    HRESULT GetPan(LPLONG pan) override {
        if (!pan) return DSERR_INVALIDPARAM;
        if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        *pan = voice_->pan;
        return DS_OK;
    }
    HRESULT GetFrequency(LPDWORD frequency) override {
        if (!frequency) return DSERR_INVALIDPARAM;
        if (!(flags_ & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        *frequency = voice_->rate;
        return DS_OK;
    }
    HRESULT GetStatus(LPDWORD status) override {
        if (!status) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        *status = 0;
        if (voice_->playing) {
            *status |= DSBSTATUS_PLAYING | DSBSTATUS_LOCSOFTWARE;
            if (voice_->looping) *status |= DSBSTATUS_LOOPING;
        }
        return DS_OK;
    }
    HRESULT Initialize(IDirectSound8*, LPCDSBUFFERDESC) override { return DSERR_ALREADYINITIALIZED; }

    HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* audio1, LPDWORD bytes1, LPVOID* audio2,
                 LPDWORD bytes2, DWORD flags) override {
        Note("#%d Lock(%u, %u, %u)", id_, offset, bytes, flags);
        if (!audio1 || !bytes1) return DSERR_INVALIDPARAM;
        *audio1 = nullptr;
        *bytes1 = 0;
        if (audio2) *audio2 = nullptr;
        if (bytes2) *bytes2 = 0;
        const DWORD size = DWORD(data_->bytes.size());
        if (flags & DSBLOCK_FROMWRITECURSOR) GetCurrentPosition(nullptr, &offset);
        if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
        if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
        DWORD first = std::min(bytes, size - offset);
        *audio1 = data_->bytes.data() + offset;
        *bytes1 = first;
        if (first < bytes && audio2 && bytes2) {
            *audio2 = data_->bytes.data();
            *bytes2 = bytes - first;
        }
        return DS_OK;
    }

    HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override {
        Note("#%d Play(%u, %u, %u)", id_, reserved1, priority, flags);
        if (reserved1 != 0) return DSERR_INVALIDPARAM;
        if (priority != 0 && !(flags_ & DSBCAPS_LOCDEFER)) return DSERR_INVALIDPARAM;
        if ((flags & (DSBPLAY_LOCHARDWARE | DSBPLAY_LOCSOFTWARE)) == 
            (DSBPLAY_LOCHARDWARE | DSBPLAY_LOCSOFTWARE))
            return DSERR_INVALIDPARAM;
        if (flags & DSBPLAY_LOCHARDWARE) return DSERR_CONTROLUNAVAIL;  // all mixing is software
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        if (device_->level == 0) return DSERR_PRIOLEVELNEEDED;
        voice_->looping = (flags & DSBPLAY_LOOPING) != 0;
        voice_->playing = true;
        ++voice_->playCalls;
        return DS_OK;
    }

    HRESULT SetCurrentPosition(DWORD position) override {
        Note("#%d SetCurrentPosition(%u)", id_, position);
        if (position >= data_->bytes.size()) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        voice_->frame = position / data_->format.nBlockAlign;
        voice_->phase = 0;
        ++voice_->moves;
        return DS_OK;
    }

    HRESULT SetFormat(LPCWAVEFORMATEX) override { return DSERR_INVALIDCALL; }

    HRESULT SetVolume(LONG volume) override {
        Note("#%d SetVolume(%d)", id_, volume);
        if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        voice_->volume = volume;
        return DS_OK;
    }
    HRESULT SetPan(LONG pan) override {
        Note("#%d SetPan(%d)", id_, pan);
        if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        voice_->pan = pan;
        return DS_OK;
    }
    HRESULT SetFrequency(DWORD frequency) override {
        Note("#%d SetFrequency(%u)", id_, frequency);
        if (!(flags_ & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
        if (frequency == DSBFREQUENCY_ORIGINAL) frequency = data_->format.nSamplesPerSec;
        if (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        voice_->rate = frequency;
        return DS_OK;
    }

    HRESULT Stop() override {
        Note("#%d Stop()", id_);
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        voice_->playing = false;
        ++voice_->playCalls;
        return DS_OK;
    }

    HRESULT Unlock(LPVOID audio1, DWORD bytes1, LPVOID audio2, DWORD bytes2) override {
        Note("#%d Unlock(%u, %u)", id_, bytes1, bytes2);
        BYTE* base = data_->bytes.data();
        const size_t size = data_->bytes.size();
        auto inside = [&](LPVOID p, DWORD n) {
            if (!p) return n == 0;
            auto* b = static_cast<BYTE*>(p);
            return b >= base && b <= base + size && n <= size_t(base + size - b);
        };
        if (!audio1 || !inside(audio1, bytes1) || !inside(audio2, bytes2)) return DSERR_INVALIDPARAM;
        // Publish a new float block; the mixer may still be reading the old.
        std::shared_ptr<const SampleBlock> old;
        {
            std::lock_guard<std::mutex> lock(device_->mixer.Lock());
            old = data_->samples->block;
        }
        auto block = old ? std::make_shared<SampleBlock>(*old)
                         : std::make_shared<SampleBlock>(size_t(data_->Frames()) *
                                                             data_->format.nChannels,
                                                         0.0f);
        size_t at1 = static_cast<BYTE*>(audio1) - base;
        ConvertRange(*data_, *block, at1, at1 + bytes1);
        if (audio2 && bytes2) {
            size_t at2 = static_cast<BYTE*>(audio2) - base;
            ConvertRange(*data_, *block, at2, at2 + bytes2);
        }
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        data_->samples->block = std::move(block);
        return DS_OK;
    }

    HRESULT Restore() override {
        Note("#%d Restore()", id_);
        return DS_OK;  // software buffers are never lost
    }

    HRESULT SetFX(DWORD effectsCount, LPDSEFFECTDESC effects, LPDWORD resultCodes) override {
        if (!(flags_ & DSBCAPS_CTRLFX)) return DSERR_CONTROLUNAVAIL;
        if (effectsCount == 0) return DS_OK;
        if (!effects) return DSERR_INVALIDPARAM;
        constexpr DWORD kResultUnknown = 5;
        if (resultCodes)
            for (DWORD i = 0; i < effectsCount; ++i) resultCodes[i] = kResultUnknown;
        return DSERR_FXUNAVAILABLE;  // no effects are offered
    }
    HRESULT AcquireResources(DWORD, DWORD, LPDWORD) override {
        return (flags_ & DSBCAPS_LOCDEFER) ? DS_OK : DSERR_INVALIDCALL;
    }
    HRESULT GetObjectInPath(REFGUID, DWORD, REFGUID, LPVOID* out) override {
        if (!out) return DSERR_INVALIDPARAM;
        *out = nullptr;
        return DSERR_OBJECTNOTFOUND;
    }

private:
    std::shared_ptr<DeviceState> device_;
    std::shared_ptr<BufferData> data_;
    std::shared_ptr<Voice> voice_;
    DWORD flags_;
    int id_;
};

// ---- The primary buffer --------------------------------------------------

class PrimaryBuffer final : public ComObject<IDirectSoundBuffer> {
public:
    PrimaryBuffer(std::shared_ptr<DeviceState> device, DWORD flags)
        : device_(std::move(device)), flags_(flags) {}

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectSoundBuffer) {
            AddRef();
            *out = static_cast<IDirectSoundBuffer*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT GetCaps(LPDSBCAPS caps) override {
        if (!caps || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
        caps->dwFlags = flags_ | DSBCAPS_LOCSOFTWARE;
        caps->dwBufferBytes = Size();
        caps->dwUnlockTransferRate = 0;
        caps->dwPlayCpuOverhead = 0;
        return DS_OK;
    }
    HRESULT GetCurrentPosition(LPDWORD play, LPDWORD write) override {
        if (!play && !write) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        DWORD size = SizeLocked();
        DWORD at = DWORD(device_->mixer.renderedFrames * device_->mixer.format.BlockAlign() % size);
        if (play) *play = at;
        if (write) *write = at;
        return DS_OK;
    }
    HRESULT GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) override {
        WAVEFORMATEX f;
        {
            std::lock_guard<std::mutex> lock(device_->mixer.Lock());
            f = ToWaveFormat(device_->mixer.format);
        }
        return CopyFormat(f, format, sizeAllocated, sizeWritten);
    }
    HRESULT GetVolume(LPLONG volume) override {
        if (!volume) return DSERR_INVALIDPARAM;
        if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        *volume = device_->mixer.masterVolume;
        return DS_OK;
    }
    HRESULT GetPan(LPLONG pan) override {
        if (!pan) return DSERR_INVALIDPARAM;
        if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        *pan = device_->mixer.masterPan;
        return DS_OK;
    }
    HRESULT GetFrequency(LPDWORD) override { return DSERR_CONTROLUNAVAIL; }
    HRESULT GetStatus(LPDWORD status) override {
        if (!status) return DSERR_INVALIDPARAM;
        *status = playing_ ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0;
        return DS_OK;
    }
    HRESULT Initialize(IDirectSound8*, LPCDSBUFFERDESC) override { return DSERR_ALREADYINITIALIZED; }
    // Writing the primary buffer directly is not offered.
    HRESULT Lock(DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD) override {
        return Level() < DSSCL_WRITEPRIMARY ? DSERR_PRIOLEVELNEEDED : DSERR_UNSUPPORTED;
    }
    HRESULT Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DSERR_INVALIDCALL; }
    HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override {
        Note("#0 Play(%u, %u, %u)", reserved1, priority, flags);
        if (reserved1 != 0 || priority != 0 || !(flags & DSBPLAY_LOOPING)) return DSERR_INVALIDPARAM;
        playing_ = true;
        return DS_OK;
    }
    HRESULT Stop() override {
        Note("#0 Stop()");
        playing_ = false;
        return DS_OK;
    }
    HRESULT SetCurrentPosition(DWORD) override { return DSERR_INVALIDCALL; }

    HRESULT SetFormat(LPCWAVEFORMATEX format) override {
        if (format)
            Note("#0 SetFormat(%u, %u, %u, %u, %u, %u)", format->wFormatTag, format->nChannels,
                 format->nSamplesPerSec, format->nAvgBytesPerSec, format->nBlockAlign,
                 format->wBitsPerSample);
        if (!format) return DSERR_INVALIDPARAM;
        if (Level() < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
        if (!ValidPcm(format) || format->nAvgBytesPerSec != format->nSamplesPerSec * format->nBlockAlign)
            return DSERR_BADFORMAT;
        MixFormat next{format->nSamplesPerSec, format->nChannels, format->wBitsPerSample};
        MixFormat previous;
        {
            std::lock_guard<std::mutex> lock(device_->mixer.Lock());
            previous = device_->mixer.format;
            device_->mixer.format = next;
        }
        // Outside the lock: closing the device waits for its callback, which takes the lock.
        if (device_->output && !device_->output->Reopen(next)) {
            std::lock_guard<std::mutex> lock(device_->mixer.Lock());
            device_->mixer.format = previous;
            return DSERR_GENERIC;
        }
        return DS_OK;
    }
    HRESULT SetVolume(LONG volume) override {
        Note("#0 SetVolume(%d)", volume);
        if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
        if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        device_->mixer.masterVolume = volume;
        return DS_OK;
    }
    HRESULT SetPan(LONG pan) override {
        Note("#0 SetPan(%d)", pan);
        if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
        if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        device_->mixer.masterPan = pan;
        return DS_OK;
    }
    HRESULT SetFrequency(DWORD) override { return DSERR_CONTROLUNAVAIL; }
    HRESULT Restore() override { return DS_OK; }

private:
    DWORD Level() {
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        return device_->level;
    }
    // The primary buffer's nominal size: a tenth of a second.
    DWORD SizeLocked() const {
        const MixFormat& f = device_->mixer.format;
        return std::max<DWORD>(f.BlockAlign(), f.rate / 10 * f.BlockAlign());
    }
    DWORD Size() {
        std::lock_guard<std::mutex> lock(device_->mixer.Lock());
        return SizeLocked();
    }

    std::shared_ptr<DeviceState> device_;
    DWORD flags_;
    bool playing_ = false;
};

// ---- The device object ---------------------------------------------------

class SoundDevice final : public ComObject<IDirectSound8> {
public:
    explicit SoundDevice(std::shared_ptr<DeviceState> state) : state_(std::move(state)) {}
    ~SoundDevice() override {
        if (primary_) primary_->Release();
        // Buffers may outlive the device; they stay valid but are heard no more.
        state_->output.reset();
    }

    bool Capturing() const { return !state_->output; }
    Mixer& GetMixer() { return state_->mixer; }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectSound8 || riid == IID_IDirectSound) {
            AddRef();
            *out = static_cast<IDirectSound8*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer,
                              LPUNKNOWN outer) override {
        if (desc)
            Note("CreateSoundBuffer(0x%X, %u)", desc->dwFlags, desc->dwBufferBytes);
        if (!buffer) return DSERR_INVALIDPARAM;
        *buffer = nullptr;
        if (outer) return DSERR_NOAGGREGATION;
        if (!desc || (desc->dwSize != sizeof(DSBUFFERDESC) && desc->dwSize != sizeof(DSBUFFERDESC1)))
            return DSERR_INVALIDPARAM;
        const DWORD flags = desc->dwFlags;

        if (flags & DSBCAPS_PRIMARYBUFFER) {
            if (desc->dwBufferBytes != 0 || desc->lpwfxFormat) return DSERR_INVALIDPARAM;
            if (flags & (DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLFX | DSBCAPS_CTRLPOSITIONNOTIFY |
                         DSBCAPS_LOCDEFER | DSBCAPS_STATIC))
                return DSERR_INVALIDPARAM;
            if (!primary_) {
                primary_ = new (std::nothrow) PrimaryBuffer(state_, flags);
                if (!primary_) return DSERR_OUTOFMEMORY;
            }
            primary_->AddRef();
            *buffer = primary_;
            return DS_OK;
        }

        const DWORD location = flags & (DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE);
        if (location == (DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE)) return DSERR_INVALIDPARAM;
        if ((flags & DSBCAPS_LOCDEFER) && location) return DSERR_INVALIDPARAM;
        if (flags & DSBCAPS_LOCHARDWARE) return DSERR_CONTROLUNAVAIL;  // all mixing is software
        const WAVEFORMATEX* format = desc->lpwfxFormat;
        if (!format) return DSERR_INVALIDPARAM;
        if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX)
            return DSERR_INVALIDPARAM;
        if (!ValidPcm(format)) return DSERR_BADFORMAT;
        if ((flags & DSBCAPS_CTRL3D) && (format->nChannels != 1 || (flags & DSBCAPS_CTRLPAN)))
            return DSERR_INVALIDPARAM;

        auto data = std::make_shared<BufferData>();
        data->format = *format;
        data->format.cbSize = 0;
        try {
            data->bytes.assign(desc->dwBufferBytes, format->wBitsPerSample == 8 ? 0x80 : 0);
            data->samples->block = std::make_shared<SampleBlock>(
                size_t(data->Frames()) * format->nChannels, 0.0f);
        } catch (const std::bad_alloc&) {
            return DSERR_OUTOFMEMORY;
        }
        auto* made = new (std::nothrow) SoundBuffer(state_, std::move(data), flags, NextId());
        if (!made) return DSERR_OUTOFMEMORY;
        *buffer = made;
        return DS_OK;
    }

    HRESULT GetCaps(LPDSCAPS caps) override {
        if (!caps || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
        DWORD size = caps->dwSize;
        std::memset(caps, 0, sizeof *caps);
        caps->dwSize = size;
        caps->dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                        DSCAPS_PRIMARY16BIT | DSCAPS_CONTINUOUSRATE;
        caps->dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
        caps->dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
        caps->dwPrimaryBuffers = 1;
        return DS_OK;
    }

    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                                 IDirectSoundBuffer** duplicate) override {
        if (!duplicate) return DSERR_INVALIDPARAM;
        *duplicate = nullptr;
        if (!original) return DSERR_INVALIDPARAM;
        auto* source = dynamic_cast<SoundBuffer*>(original);
        if (!source) return DSERR_INVALIDCALL;  // the primary buffer
        SoundBuffer* copy = source->Duplicate(NextId());
        if (!copy) return DSERR_OUTOFMEMORY;
        *duplicate = copy;
        return DS_OK;
    }

    HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
        Note("SetCooperativeLevel(%u)", level);
        if (!window || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
        std::lock_guard<std::mutex> lock(state_->mixer.Lock());
        state_->level = level;
        return DS_OK;
    }
    HRESULT Compact() override {
        std::lock_guard<std::mutex> lock(state_->mixer.Lock());
        return state_->level < DSSCL_PRIORITY ? DSERR_PRIOLEVELNEEDED : DS_OK;
    }
    HRESULT GetSpeakerConfig(LPDWORD config) override {
        if (!config) return DSERR_INVALIDPARAM;
        *config = DSSPEAKER_STEREO;
        return DS_OK;
    }
    HRESULT SetSpeakerConfig(DWORD) override { return DS_OK; }
    HRESULT Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }
    HRESULT VerifyCertification(LPDWORD certified) override {
        if (!certified) return DSERR_INVALIDPARAM;
        *certified = DS_UNCERTIFIED;
        return DS_OK;
    }

private:
    int NextId() {
        std::lock_guard<std::mutex> lock(state_->mixer.Lock());
        return state_->nextBufferId++;
    }

    std::shared_ptr<DeviceState> state_;
    PrimaryBuffer* primary_ = nullptr;
};
}  // namespace

void SelectSoundOutput(SoundOutputMode mode) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    selectedMode = mode;
}

SoundOutputMode SelectedSoundOutput() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    return selectedMode;
}

void EnableSoundJournal(bool enabled) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    journalEnabled = enabled;
    if (!enabled) journal.clear();
}

std::vector<std::string> TakeSoundJournal() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    std::vector<std::string> lines;
    lines.swap(journal);
    return lines;
}

HRESULT CaptureSoundFrames(IDirectSound8* sound, void* destination, DWORD frames) {
    return CaptureSoundFrames(sound, destination, frames, nullptr);
}

HRESULT CaptureSoundFrames(IDirectSound8* sound, void* destination, DWORD frames,
                           const std::function<void()>& whileMixing) {
    auto* device = dynamic_cast<SoundDevice*>(sound);
    if (!device || (!destination && frames > 0)) return DSERR_INVALIDPARAM;
    if (!device->Capturing()) return DSERR_INVALIDCALL;
    MixFormat format;
    {
        std::lock_guard<std::mutex> lock(device->GetMixer().Lock());
        format = device->GetMixer().format;
    }
    device->GetMixer().Render(destination, frames, format, whileMixing);
    return DS_OK;
}

HRESULT DirectSoundCreate8(LPCGUID device, IDirectSound8** sound, LPUNKNOWN outer) {
    Note("DirectSoundCreate8()");
    if (!sound) return DSERR_INVALIDPARAM;
    *sound = nullptr;
    if (outer) return DSERR_NOAGGREGATION;
    if (device && *device != GUID_NULL && *device != DSDEVID_DefaultPlayback) return DSERR_NODRIVER;

    SoundOutputMode mode = EffectiveMode();
    if (mode == SoundOutputMode::None) return DSERR_NODRIVER;
    auto state = std::make_shared<DeviceState>();
    // The device's default primary format until SetFormat: 22050 Hz, 8 bits, stereo.
    state->mixer.format = MixFormat{22050, 2, 8};
    if (mode == SoundOutputMode::Device) {
        state->output = OpenSdlOutput(&state->mixer, state->mixer.format);
        if (!state->output) return DSERR_NODRIVER;
    }
    auto* made = new (std::nothrow) SoundDevice(std::move(state));
    if (!made) return DSERR_OUTOFMEMORY;
    *sound = made;
    return DS_OK;
}
