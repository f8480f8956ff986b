#include "scene/model.h"

#include <cstdlib>
#include <cstring>

#include "app/device.h"
#include "geometry/mesh_build.h"
#include "geometry/xfile_loader.h"
#include "texture/texture_from_file.h"

namespace {

// Vertex and index buffers in system memory: the ground probes lock the
// course's buffers every frame.
constexpr DWORD kModelMeshOptions = OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM;

}  // namespace

void AdjustModelMaterial(D3DMATERIAL9& material) {
    // A float 128, not 128/255: the lit alpha is clamped to 1 anyway.
    material.Diffuse.a = 128.0f;
    material.Ambient = material.Diffuse;
    material.Specular = material.Ambient;
    material.Power = 10.0f;
}

Model::~Model() {
    for (DWORD i = 0; textures && i < materialCount; ++i)
        if (textures[i]) textures[i]->Release();
    std::free(textures);
    std::free(materials);
    if (mesh) mesh->Release();
}

int Model::LoadModel(const char* fileName) { return LoadModel(GetDevice(), fileName); }

int Model::LoadModel(IDirect3DDevice9* device, const char* fileName) {
    if (!fileName) return 0;

    DataBuffer* materialBuffer = nullptr;
    DWORD count = 0;
    Mesh* loaded = nullptr;
    if (FAILED(LoadMeshFromXFile(fileName, kModelMeshOptions, device, nullptr, &materialBuffer, nullptr, &count,
                                 &loaded)))
        return 0;

    // Sorted by attribute, group i is exactly the faces of material i.
    Mesh* sorted = nullptr;
    loaded->OptimizeIntoNewMesh(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr, &sorted);
    loaded->Release();

    // A loaded file always brings at least its default material; guard the
    // buffer anyway so a short one cannot be read past its end.
    const MaterialEntry* entries = nullptr;
    if (materialBuffer && materialBuffer->GetDataSize() / sizeof(MaterialEntry) >= count)
        entries = static_cast<const MaterialEntry*>(materialBuffer->GetDataPointer());
    else
        count = 0;

    auto* newMaterials = static_cast<D3DMATERIAL9*>(std::calloc(count ? count : 1, sizeof(D3DMATERIAL9)));
    auto* newTextures = static_cast<IDirect3DTexture9**>(std::calloc(count ? count : 1, sizeof(IDirect3DTexture9*)));
    if (!newMaterials || !newTextures) {
        std::free(newMaterials);
        std::free(newTextures);
        if (sorted) sorted->Release();
        if (materialBuffer) materialBuffer->Release();
        return 0;
    }
    for (DWORD i = 0; i < count; ++i) {
        newMaterials[i] = entries[i].material;
        AdjustModelMaterial(newMaterials[i]);
        // Names are relative to the working directory, as written in the file.
        IDirect3DTexture9* texture = nullptr;
        if (entries[i].textureFilename && FAILED(CreateTextureFromFile(device, entries[i].textureFilename, &texture)))
            texture = nullptr;
        newTextures[i] = texture;
    }
    if (materialBuffer) materialBuffer->Release();

    // Loaded once in the program; a second load replaces the first cleanly.
    for (DWORD i = 0; textures && i < materialCount; ++i)
        if (textures[i]) textures[i]->Release();
    std::free(textures);
    std::free(materials);
    if (mesh) mesh->Release();

    mesh = sorted;
    materials = newMaterials;
    textures = newTextures;
    materialCount = count;
    return 1;
}

void Model::DrawModel() { DrawModel(GetDevice()); }

void Model::DrawModel(IDirect3DDevice9* device) {
    if (!device) return;
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    // Without the sorted mesh there is nothing to draw.
    if (!mesh) return;
    for (DWORD i = 0; i < materialCount; ++i) {
        device->SetMaterial(&materials[i]);
        device->SetTexture(0, textures[i]);
        mesh->DrawAttributeGroup(i);
    }
}
