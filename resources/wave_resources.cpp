// Sounds built into the executable, found by name under the type "WAVE"
// (or "WAV") when a sound's name is not a file. The program ships all its
// sounds as files under media/, so the table has no entries; the sound
// reader still searches it.
#include <vector>

#include "platform/win32/resource.h"
#include "resources/resources.h"

namespace {
const std::vector<ResourceRecord> kWaveResources = {};
}  // namespace

void RegisterWaveResources() { RegisterResources(kWaveResources.data(), kWaveResources.size()); }
