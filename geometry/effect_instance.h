// Effect instances: for each material, the effect file it is drawn with
// and the defaults of the effect's parameters. The loader returns them in
// one DataBuffer beside the materials, one instance per material.
#pragma once

#include <string>
#include <vector>

#include "geometry/data_buffer.h"
#include "platform/d3d9/d3d9.h"

inline constexpr DWORD EFFECT_DEFAULT_STRING = 1;  // value: NUL-terminated 8-bit string
inline constexpr DWORD EFFECT_DEFAULT_FLOATS = 2;  // value: numBytes / 4 floats
inline constexpr DWORD EFFECT_DEFAULT_DWORD = 3;   // value: one DWORD

// One parameter default.
struct EffectDefault {
    char* parameterName;
    DWORD type;  // EFFECT_DEFAULT_*
    DWORD numBytes;
    void* value;
};

// One material's effect: the file (or null) and its parameter defaults.
struct EffectInstance {
    char* effectFilename;
    DWORD numDefaults;
    EffectDefault* defaults;
};

// The same held by value while it is being built.
struct EffectDefaultData {
    std::string parameterName;
    DWORD type = EFFECT_DEFAULT_FLOATS;
    std::vector<BYTE> value;
};
struct EffectInstanceData {
    bool hasEffectFile = false;
    std::string effectFilename;
    std::vector<EffectDefaultData> defaults;
};

// The instance of a material that names no effect: no effect file, and the
// defaults "Diffuse", "Power", "Specular", "Emissive", "Ambient" (floats)
// taken from the material, then "Texture0@Name" (its texture file name,
// with the terminator) when `textureFilename` is not null.
EffectInstanceData DefaultEffectInstance(const D3DMATERIAL9& material, const char* textureFilename);

// Packs `count` instances into one DataBuffer: the EffectInstance records,
// then every instance's EffectDefault records, then the names and values,
// each record pointing into the same buffer. Null for count 0;
// E_OUTOFMEMORY when the whole would pass 4 GiB.
HRESULT CreateEffectInstanceBuffer(const EffectInstanceData* instances, DWORD count, DataBuffer** out);

// Reads back the first `count` instances of a buffer made by
// CreateEffectInstanceBuffer. Instances the buffer does not hold (or all,
// for a null buffer) come out empty.
std::vector<EffectInstanceData> ReadEffectInstances(DataBuffer* buffer, DWORD count);
