// Builds RIFF WAVE files byte by byte for the sound tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavetest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i]));
}

// A chunk with its real size (or `declared`) and a pad byte after odd bodies.
inline Bytes Chunk(const char* id, const Bytes& body, int64_t declared = -1) {
    Bytes b;
    b.reserve(body.size() + 9);
    PutId(b, id);
    Put32(b, declared < 0 ? uint32_t(body.size()) : uint32_t(declared));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2) b.push_back(0);
    return b;
}

inline Bytes Riff(const std::vector<Bytes>& chunks, int64_t declared = -1) {
    Bytes body;
    PutId(body, "WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    return Chunk("RIFF", body, declared);
}

// The 16-byte PCM fields; `extra` (with its count) follows when given.
inline Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                 const Bytes* extra = nullptr) {
    Bytes b;
    uint16_t align = uint16_t((channels * bits + 7) / 8);
    Put16(b, tag);
    Put16(b, channels);
    Put32(b, rate);
    Put32(b, rate * align);
    Put16(b, align);
    Put16(b, bits);
    if (extra) {
        Put16(b, uint32_t(extra->size()));
        b.insert(b.end(), extra->begin(), extra->end());
    }
    return b;
}

inline Bytes Ramp(size_t n, uint8_t start = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(start + i * 7);
    return b;
}

// A 16-bit PCM file of `samples`.
inline Bytes Pcm16(uint16_t channels, uint32_t rate, const std::vector<int16_t>& samples) {
    Bytes data;
    for (int16_t s : samples) Put16(data, uint16_t(s));
    return Riff({Chunk("fmt ", Fmt(1, channels, rate, 16)), Chunk("data", data)});
}

}  // namespace wavetest
