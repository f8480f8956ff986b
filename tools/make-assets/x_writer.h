// A writer of text .x files with the standard templates: frames with their
// transforms, meshes with normals, texture coordinates and material lists,
// and named materials that meshes refer to.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace assets {

struct Vec2 {
    float x = 0, y = 0;
};
struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct XMaterial {
    std::string name;
    float diffuse[4] = {1, 1, 1, 1};
    float power = 10;
    float specular[3] = {0, 0, 0};
    float emissive[3] = {0, 0, 0};
    std::string texture;  // empty: none
};

// Faces are polygons of three or more vertex indices; normals have faces of
// their own (same shapes) so corners can have different normals.
struct XMesh {
    std::string name;
    std::vector<Vec3> positions;
    std::vector<std::vector<uint32_t>> faces;
    std::vector<Vec3> normals;
    std::vector<std::vector<uint32_t>> normalFaces;
    std::vector<Vec2> uvs;                  // empty, or one per position
    std::vector<uint32_t> faceMaterials;    // one per face: index into `materials`
    std::vector<std::string> materials;     // names of file-level materials
};

struct XFrame {
    std::string name;
    std::array<float, 16> transform = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<XMesh> meshes;
    std::vector<XFrame> children;
};

struct XFile {
    std::vector<XMaterial> materials;
    std::vector<XFrame> frames;
};

std::string FormatXText(const XFile& file);
bool WriteXFile(const std::string& path, const XFile& file);

}  // namespace assets
