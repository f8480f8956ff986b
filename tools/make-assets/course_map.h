// A top-down picture of the course and the checks the generator makes on
// its own output before writing it.
#pragma once

#include <string>
#include <vector>

#include "course.h"

namespace assets {

struct WorldTriangle {
    Vec3 p[3];
    unsigned material;  // number in the merged material list
};

// Every triangle of the file in world space (frame transforms applied,
// polygons fanned), with material numbers as the loader merges them: each
// mesh's list follows the lists of the meshes before it.
std::vector<WorldTriangle> Flatten(const XFile& file);

// Writes the map: materials as colours, the centre line, the start pose.
bool WriteCourseMap(const std::string& path, const CentreLine& line, const std::vector<WorldTriangle>& triangles);

// Faces of other materials that overlap a road face seen from above: of a
// lower material at any height (a probe takes the first material its ray
// meets, in ascending order), of a higher one within `band` units of the
// road's height (what a downward probe could meet).
size_t CountFacesOverRoad(const std::vector<WorldTriangle>& triangles, unsigned road, float band);

}  // namespace assets
