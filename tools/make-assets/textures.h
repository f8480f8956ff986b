// The material pictures of the course, drawn from noise and simple shapes,
// and written in the file formats the texture library reads.
#pragma once

#include <cstddef>
#include <string>

#include "text_render.h"

namespace assets {

// Writes every texture file the course's materials name into `dir`, and
// adds the number of files written to `written`.
bool WriteCourseTextures(const std::string& dir, TextRenderer& text, size_t& written);

}  // namespace assets
