// Writers for the image files of the data set. Each returns false (with a
// message on stderr) when the file cannot be written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

namespace assets {

bool WritePng(const std::string& path, const Image& image, bool alpha);
bool WriteJpeg(const std::string& path, const Image& image, int quality);
bool WriteBmp24(const std::string& path, const Image& image);
// 8-bit palettised BMP: the picture's colours are mapped to a palette made
// from the picture (at most 256 entries, by a uniform cut of the colour cube
// where it has more).
bool WriteBmp8(const std::string& path, const Image& image);
// Run-length encoded true-colour TGA (type 10), 32-bit with alpha or 24-bit,
// stored top-down.
bool WriteTgaRle(const std::string& path, const Image& image, bool alpha);
// Binary PPM (P6), with a comment line.
bool WritePpm(const std::string& path, const Image& image);

enum class DdsFormat { A8R8G8B8, X8R8G8B8, R5G6B5, A4R4G4B4, A1R5G5B5, DXT1, DXT3, DXT5 };

// A DDS file holding `image` and, with `mips`, its full chain of smaller
// levels down to 1x1.
bool WriteDds(const std::string& path, const Image& image, DdsFormat format, bool mips);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace assets
