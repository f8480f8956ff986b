// The audio output a sound device's mixer feeds (inside the sound devices).
#pragma once

#include <memory>

#include "platform/dsound/mixer.h"

class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Plays from now on in `format`; false when the output cannot take it
    // (the previous format then stays).
    virtual bool Reopen(const MixFormat& format) = 0;
};

// The machine's audio device through SDL, pulling the mix on SDL's audio
// thread. Null when SDL's audio cannot start or no device opens.
std::unique_ptr<SoundOutput> OpenSdlOutput(Mixer* mixer, const MixFormat& format);
