// Test-side writers of the binary and compressed .x forms, so the same
// content can be read in every form and compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace xtest {

// Re-encodes a text .x file (header included) as a binary one with the given
// float size (32 or 64): numbers in data become integer and float lists,
// names, strings and GUIDs their tokens.
std::vector<uint8_t> TextToBinary(std::string_view text, int floatSize);

// Compresses a text or binary file into its "tzip"/"bzip" form, in blocks of
// at most blockSize unpacked bytes, each deflated with the previous 32 KiB as
// its dictionary.
std::vector<uint8_t> Compress(const std::vector<uint8_t>& file, size_t blockSize = 32768);

inline std::vector<uint8_t> Bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace xtest
