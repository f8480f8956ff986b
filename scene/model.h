// A drawable model: an attribute-sorted mesh with one material and one
// texture per attribute group, loaded from a ".x" file.
#pragma once

#include "geometry/mesh.h"
#include "platform/d3d9/d3d9.h"

class Model {
public:
    Model() = default;
    // Frees the two arrays and gives back the mesh and texture references.
    virtual ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Loads `fileName` with the device of the program; 1 on success, 0 when
    // the file could not be read (the model stays empty). A texture that
    // cannot be created leaves its group untextured.
    int LoadModel(const char* fileName);
    // The same on a given device (tests, tools).
    int LoadModel(IDirect3DDevice9* device, const char* fileName);
    // Draws every group with its material and texture under whatever world,
    // view and projection transforms are set. An empty model draws nothing.
    void DrawModel();
    void DrawModel(IDirect3DDevice9* device);

    // Public for the ground probes, which pick against the course mesh.
    Mesh* mesh = nullptr;
    D3DMATERIAL9* materials = nullptr;     // materialCount entries
    IDirect3DTexture9** textures = nullptr;  // materialCount entries, null where untextured
    DWORD materialCount = 0;
};

// Gives a loaded material the look every model uses: ambient and specular
// equal to the diffuse colour, diffuse alpha 128 (lighting clamps it back to
// 1) and power 10. The emissive colour is kept.
void AdjustModelMaterial(D3DMATERIAL9& material);
