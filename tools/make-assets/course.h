// The course: a closed circuit through gentle hills, built as one .x file.
#pragma once

#include <string>
#include <vector>

#include "x_writer.h"

namespace assets {

// The centre line sampled at equal steps, closed (the last sample joins the
// first), in world units.
struct CentreLine {
    std::vector<Vec2> points;    // (x, z)
    std::vector<Vec2> tangents;  // unit, direction of travel
    std::vector<float> heights;  // road surface height
    std::vector<float> curvature;  // signed, 1/units; positive turns left
    float length = 0;
    float step = 0;
};

// The car's start pose lies on the centre line.
constexpr float kStartX = 96.94f;
constexpr float kStartZ = -266.825f;
constexpr float kStartHeading = -88.96f;
constexpr float kRoadHalfWidth = 8.0f;
constexpr unsigned kRoadMaterial = 14;

CentreLine BuildCentreLine();
// The course with its materials; textures are written by the caller from
// the names it returns in the materials.
XFile BuildCourse(const CentreLine& line);

}  // namespace assets
