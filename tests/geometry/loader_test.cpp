#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "../xfile/x_encoder.h"
#include "mesh_fixture.h"

namespace {

struct Loaded {
    HRESULT hr;
    Mesh* mesh = nullptr;
    DataBuffer* materials = nullptr;
    DataBuffer* effects = nullptr;
    DWORD count = 0;
    void Release() {
        if (mesh) {
            EXPECT_EQ(mesh->Release(), 0u);
        }
        if (materials) materials->Release();
        if (effects) {
            EXPECT_EQ(effects->Release(), 0u);
        }
        mesh = nullptr;
        materials = nullptr;
        effects = nullptr;
    }
};

Loaded LoadText(IDirect3DDevice9* device, const std::string& body, bool withEffects = false,
                DWORD options = OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM) {
    const std::string text = "xof 0303txt 0032\n" + body;
    Loaded l;
    l.hr = LoadMeshFromXMemory(text.data(), static_cast<DWORD>(text.size()), options, device, nullptr, &l.materials,
                               withEffects ? &l.effects : nullptr, &l.count, &l.mesh);
    return l;
}

// The floats of an effect default.
std::vector<float> FloatsOf(const EffectDefault& d) {
    std::vector<float> out(d.numBytes / 4);
    std::memcpy(out.data(), d.value, out.size() * 4);
    return out;
}

// Every pointer of an effect-instance buffer lands inside it.
void ExpectSelfContained(DataBuffer* buffer, DWORD count) {
    const BYTE* begin = static_cast<const BYTE*>(buffer->GetDataPointer());
    const BYTE* end = begin + buffer->GetDataSize();
    auto inside = [&](const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        return b >= begin && b + n <= end;
    };
    ASSERT_GE(buffer->GetDataSize(), count * sizeof(EffectInstance));
    const EffectInstance* e = static_cast<const EffectInstance*>(buffer->GetDataPointer());
    for (DWORD i = 0; i < count; ++i) {
        if (e[i].effectFilename) {
            EXPECT_TRUE(inside(e[i].effectFilename, 1));
        }
        if (e[i].numDefaults) {
            ASSERT_TRUE(inside(e[i].defaults, e[i].numDefaults * sizeof(EffectDefault)));
        }
        for (DWORD k = 0; k < e[i].numDefaults; ++k) {
            EXPECT_TRUE(inside(e[i].defaults[k].parameterName, 1));
            EXPECT_TRUE(inside(e[i].defaults[k].value, e[i].defaults[k].numBytes));
        }
    }
}

std::vector<float> Positions(Mesh* mesh) {
    std::vector<float> out;
    BYTE* v = nullptr;
    EXPECT_EQ(mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v)), S_OK);
    for (DWORD i = 0; i < mesh->GetVertexCount(); ++i) {
        const float* p = reinterpret_cast<const float*>(v + size_t{i} * mesh->GetVertexStride());
        out.insert(out.end(), p, p + 3);
    }
    mesh->UnlockVertices();
    return out;
}

const char* kQuad = "Mesh { 4; 0;0;0;, 1;0;0;, 1;0;1;, 0;0;1;; 1; 4;0,1,2,3;; }\n";

}  // namespace

TEST_F(MeshTest, LoaderFansQuadsAndGivesTheDefaultMaterial) {
    Loaded l = LoadText(device, kQuad);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.mesh->GetFaceCount(), 2u);
    EXPECT_EQ(Indices(l.mesh), (std::vector<DWORD>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(l.mesh->GetVertexFormat(), DWORD{D3DFVF_XYZ}) << "no normals read, none declared";
    ASSERT_EQ(l.count, 1u);
    const MaterialEntry* e = static_cast<const MaterialEntry*>(l.materials->GetDataPointer());
    EXPECT_EQ(e->material.Diffuse.r, 0.5f);
    EXPECT_EQ(e->material.Diffuse.a, 0.0f);
    EXPECT_EQ(e->material.Specular.g, 0.5f);
    EXPECT_EQ(e->textureFilename, nullptr);
    l.Release();

    EXPECT_EQ(LoadText(device, "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 2;0,1;; }\n").hr, E_FAIL);
    EXPECT_EQ(LoadText(device, "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,3;; }\n").hr, E_FAIL) << "index out of range";
    EXPECT_EQ(LoadText(device, "Frame { }\n").hr, E_FAIL) << "no mesh at all";
}

// Binary files can carry any bit pattern as a colour channel: a NaN reads
// as 0 (it was cast to an integer as it stood, which is undefined).
TEST_F(MeshTest, LoaderReadsANanColourChannelAsZero) {
    const std::string text = "xof 0303txt 0032\n"
                             "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;;\n"
                             " MeshVertexColors { 3; 0;0.25;0.5;0.75;1.0;;, 1;1.0;1.0;1.0;1.0;;, 2;1.0;1.0;1.0;1.0;;; } }\n";
    std::vector<uint8_t> file = xtest::TextToBinary(text, 32);
    const float half = 0.5f, nan = std::numeric_limits<float>::quiet_NaN();
    const auto at = std::search(file.begin(), file.end(), reinterpret_cast<const uint8_t*>(&half),
                                reinterpret_cast<const uint8_t*>(&half) + 4);
    ASSERT_NE(at, file.end());
    std::memcpy(&*at, &nan, 4);
    Mesh* mesh = nullptr;
    ASSERT_EQ(LoadMeshFromXMemory(file.data(), static_cast<DWORD>(file.size()), OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM,
                                  device, nullptr, nullptr, nullptr, nullptr, &mesh),
              S_OK);
    ASSERT_EQ(mesh->GetVertexFormat(), DWORD{D3DFVF_XYZ | D3DFVF_DIFFUSE});
    const BYTE* v = nullptr;
    ASSERT_EQ(mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(const_cast<BYTE**>(&v))), S_OK);
    DWORD colour;
    std::memcpy(&colour, v + 12, 4);
    EXPECT_EQ(colour, 0xFF4000BFu) << std::hex << colour;  // r 0.25, g NaN, b 0.75, a 1
    mesh->UnlockVertices();
    EXPECT_EQ(mesh->Release(), 0u);
}

// Write-only buffers suit meshes that are only drawn; the loader sorts what
// it has just written itself, so it builds such meshes too (it refused them
// with D3DERR_INVALIDCALL).
TEST_F(MeshTest, LoaderBuildsWriteOnlyMeshes) {
    const std::string second = "Mesh { 3; 0;1;0;, 1;1;0;, 1;1;1;; 1; 3;0,1,2;; }\n";
    for (DWORD writeOnly : {OPT_VB_WRITEONLY, OPT_IB_WRITEONLY, OPT_VB_WRITEONLY | OPT_IB_WRITEONLY}) {
        const DWORD options = OPT_VB_MANAGED | OPT_IB_MANAGED | writeOnly;
        Loaded l = LoadText(device, std::string(kQuad) + second, false, options);
        ASSERT_EQ(l.hr, S_OK) << writeOnly;
        EXPECT_EQ(l.mesh->GetCreationOptions(), options);
        EXPECT_EQ(l.mesh->GetFaceCount(), 3u);
        l.Release();
        // A single mesh comes out sorted, with its table.
        l = LoadText(device, kQuad, false, options);
        ASSERT_EQ(l.hr, S_OK) << writeOnly;
        DWORD entries = 0;
        EXPECT_EQ(l.mesh->CopyAttributeTable(nullptr, &entries), S_OK);
        EXPECT_EQ(entries, 1u);
        l.Release();
    }
}

TEST_F(MeshTest, LoaderAppliesFrameTransformsInOrder) {
    const std::string translate = "FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 10,20,30,1;; }\n";
    Loaded l = LoadText(device, "Frame { " + translate + kQuad + "}\n");
    ASSERT_EQ(l.hr, S_OK);
    const std::vector<float> p = Positions(l.mesh);
    EXPECT_EQ(p[0], 10.0f);
    EXPECT_EQ(p[1], 20.0f);
    EXPECT_EQ(p[2], 30.0f);
    l.Release();

    // After the mesh inside the same frame it has no effect; nested frames
    // compose child first.
    l = LoadText(device, "Frame { " + std::string(kQuad) + translate + "}\n");
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(Positions(l.mesh)[0], 0.0f);
    l.Release();
    const std::string scale = "FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 0,0,0,1;; }\n";
    l = LoadText(device, "Frame { " + translate + "Frame { " + scale + kQuad + "} }\n");
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(Positions(l.mesh)[3], 12.0f);  // (1,0,0) scaled, then translated
    l.Release();
}

TEST_F(MeshTest, LoaderMergesMeshesAndOffsetsTheirMaterials) {
    const std::string materials =
        "MeshMaterialList { 2; 1; 1;; Material { 1;0;0;1;; 5; 1;1;1;; 0;0;0;; TextureFilename { \"a.dds\"; } }"
        " Material { 0;1;0;1;; 5; 1;1;1;; 0;0;0;; } }\n";
    const std::string first = "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;; " + materials + "}\n";
    const std::string second = "Mesh { 3; 0;5;0;, 1;5;0;, 1;5;1;; 1; 3;0,1,2;; " + materials + "}\n";
    Loaded l = LoadText(device, first + second);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.count, 4u);
    EXPECT_EQ(l.mesh->GetFaceCount(), 2u);
    EXPECT_EQ(l.mesh->GetVertexCount(), 6u);
    DWORD* attributes = nullptr;
    l.mesh->LockAttributes(D3DLOCK_READONLY, &attributes);
    EXPECT_EQ(attributes[0], 1u);
    EXPECT_EQ(attributes[1], 3u);
    const MaterialEntry* e = static_cast<const MaterialEntry*>(l.materials->GetDataPointer());
    EXPECT_STREQ(e[0].textureFilename, "a.dds");
    EXPECT_STREQ(e[2].textureFilename, "a.dds");
    EXPECT_EQ(e[3].material.Diffuse.g, 1.0f);
    EXPECT_EQ(e[0].material.Specular.a, 1.0f);
    l.Release();

    // Fewer materials than announced fails; more is an invalid call.
    EXPECT_EQ(LoadText(device, "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;; MeshMaterialList { 3; 1; 0;; "
                               "Material { 1;0;0;1;; 5; 1;1;1;; 0;0;0;; } } }\n")
                  .hr,
              E_FAIL);
}

// A mesh without a material list draws with the grey material; joined to
// meshes that have materials, it keeps that material for its own faces
// instead of taking the other mesh's first one, or an attribute beyond the
// list (drawn by no subset).
TEST_F(MeshTest, AMeshWithoutMaterialsKeepsTheGreyOneWhenMerged) {
    const std::string red =
        "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;;"
        " Material { 1;0;0;1;; 5; 1;1;1;; 0;0;0;; TextureFilename { \"red.dds\"; } } } }\n";
    const std::string bare = "Mesh { 3; 0;5;0;, 1;5;0;, 1;5;1;; 1; 3;0,1,2;; }\n";
    for (bool bareFirst : {false, true}) {
        Loaded l = LoadText(device, bareFirst ? bare + red : red + bare);
        ASSERT_EQ(l.hr, S_OK);
        ASSERT_EQ(l.count, 2u) << bareFirst;
        ASSERT_EQ(l.mesh->GetFaceCount(), 2u);
        const std::vector<float> p = Positions(l.mesh);
        DWORD* attributes = nullptr;
        ASSERT_EQ(l.mesh->LockAttributes(D3DLOCK_READONLY, &attributes), S_OK);
        const std::vector<DWORD> ids(attributes, attributes + 2);
        l.mesh->UnlockAttributes();
        const MaterialEntry* e = static_cast<const MaterialEntry*>(l.materials->GetDataPointer());
        for (DWORD f = 0; f < 2; ++f) {
            ASSERT_LT(ids[f], l.count) << bareFirst;
            const std::vector<DWORD> corners = Indices(l.mesh);
            const bool isBare = p[corners[f * 3] * 3 + 1] == 5.0f;
            const D3DMATERIAL9& m = e[ids[f]].material;
            if (isBare) {
                EXPECT_EQ(m.Diffuse.r, 0.5f) << bareFirst;
                EXPECT_EQ(m.Specular.g, 0.5f);
                EXPECT_EQ(e[ids[f]].textureFilename, nullptr);
            } else {
                EXPECT_EQ(m.Diffuse.r, 1.0f) << bareFirst;
                EXPECT_STREQ(e[ids[f]].textureFilename, "red.dds");
            }
        }
        l.Release();
    }
    // Meshes that all lack materials share the one grey material.
    Loaded l = LoadText(device, bare + bare);
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.count, 1u);
    l.Release();
}

// FVFData carrying a specular colour and a texture set, in a mesh with its
// own texture coordinates: the file's coordinates become set 0 between the
// two, and each part of the data goes to its own element (the colour was
// written over set 0's v, and the specular element stayed 0). Likewise for
// elements that come before the loader's normal.
TEST_F(MeshTest, FvfDataAroundTheFilesTextureCoordinatesKeepsItsElements) {
    // SPECULAR | TEX1; per vertex: specular 0xFF112233, then (0.5, 0.25).
    const std::string fvfData = "FVFData { 384; 9; 4279312947,1056964608,1048576000, "
                                "4279312947,1056964608,1048576000, 4279312947,1056964608,1048576000; }";
    const std::string coords = "MeshTextureCoords { 3; 0.25;0.5;, 0.75;0.125;, 1;1;; }";
    for (bool withCoords : {true, false}) {
        Loaded l = LoadText(device, "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;; " + fvfData +
                                        (withCoords ? coords : "") + " }\n");
        ASSERT_EQ(l.hr, S_OK);
        const DWORD sets = withCoords ? 2 : 1;
        ASSERT_EQ(l.mesh->GetVertexFormat(), DWORD{D3DFVF_XYZ | D3DFVF_SPECULAR} | (sets << D3DFVF_TEXCOUNT_SHIFT));
        BYTE* v = nullptr;
        ASSERT_EQ(l.mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v)), S_OK);
        const float fileCoords[3][2] = {{0.25f, 0.5f}, {0.75f, 0.125f}, {1, 1}};
        for (DWORD i = 0; i < 3; ++i) {
            const BYTE* vertex = v + size_t{i} * l.mesh->GetVertexStride();
            DWORD specular = 0;
            float uv[2][2] = {};
            std::memcpy(&specular, vertex + 12, 4);
            std::memcpy(uv, vertex + 16, sets * 8);
            EXPECT_EQ(specular, 0xFF112233u) << withCoords << " vertex " << i;
            const float(&own)[2] = uv[sets - 1];
            EXPECT_EQ(own[0], 0.5f) << withCoords << " vertex " << i;
            EXPECT_EQ(own[1], 0.25f) << withCoords << " vertex " << i;
            if (withCoords) {
                EXPECT_EQ(uv[0][0], fileCoords[i][0]) << "vertex " << i;
                EXPECT_EQ(uv[0][1], fileCoords[i][1]) << "vertex " << i;
            }
        }
        l.mesh->UnlockVertices();
        l.Release();
    }
    // Blend weights (XYZB1, one 0.5 a vertex) come before the normal that
    // MeshNormals adds: the weight was written over the normal's z.
    Loaded l = LoadText(device, "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;; MeshNormals { 1; 0;1;0;; 1; 3;0,0,0;; }"
                                " FVFData { 6; 3; 1056964608, 1056964608, 1056964608; } }\n");
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_EQ(l.mesh->GetVertexFormat(), DWORD{D3DFVF_XYZB1 | D3DFVF_NORMAL});
    BYTE* v = nullptr;
    ASSERT_EQ(l.mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v)), S_OK);
    for (DWORD i = 0; i < 3; ++i) {
        float vertex[7];
        std::memcpy(vertex, v + size_t{i} * l.mesh->GetVertexStride(), sizeof vertex);
        EXPECT_EQ(vertex[3], 0.5f) << "vertex " << i;
        EXPECT_EQ(vertex[4], 0.0f) << "vertex " << i;
        EXPECT_EQ(vertex[5], 1.0f) << "vertex " << i;
        EXPECT_EQ(vertex[6], 0.0f) << "vertex " << i;
    }
    l.mesh->UnlockVertices();
    l.Release();
}

TEST_F(MeshTest, EveryCorpusModelLoads) {
    const std::filesystem::path root = std::filesystem::path(VINTREL_CORPUS_DIR) / "x";
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".x") continue;
        ++files;
        Mesh* mesh = nullptr;
        DataBuffer* materials = nullptr;
        DWORD count = 0;
        const HRESULT hr = LoadMeshFromXFile(entry.path().c_str(), OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, device, nullptr,
                                             &materials, nullptr, &count, &mesh);
        // boat_base.x lists three materials in its material list but gives
        // four children (three materials and a reference to one of them):
        // more material children than announced is an invalid call.
        const HRESULT expected = entry.path().filename() == "boat_base.x" ? D3DERR_INVALIDCALL : S_OK;
        EXPECT_EQ(hr, expected) << entry.path();
        if (mesh) {
            EXPECT_GT(mesh->GetFaceCount(), 0u);
            EXPECT_GE(count, 1u);
            EXPECT_EQ(mesh->Release(), 0u);
        }
        if (materials) materials->Release();
    }
    EXPECT_GE(files, 11);
}

TEST_F(MeshTest, EffectInstancesComeFromTheMaterialsOrTheirOwnObjects) {
    // Default material: no effect file, the five colour defaults.
    Loaded l = LoadText(device, kQuad, true);
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_NE(l.effects, nullptr);
    ExpectSelfContained(l.effects, 1);
    const EffectInstance* e = static_cast<const EffectInstance*>(l.effects->GetDataPointer());
    EXPECT_EQ(e->effectFilename, nullptr);
    ASSERT_EQ(e->numDefaults, 5u);
    const char* names[5] = {"Diffuse", "Power", "Specular", "Emissive", "Ambient"};
    for (int k = 0; k < 5; ++k) {
        EXPECT_STREQ(e->defaults[k].parameterName, names[k]);
        EXPECT_EQ(e->defaults[k].type, EFFECT_DEFAULT_FLOATS);
        EXPECT_EQ(e->defaults[k].numBytes, k == 1 ? 4u : 16u);
    }
    EXPECT_EQ(FloatsOf(e->defaults[0]), (std::vector<float>{0.5f, 0.5f, 0.5f, 0}));
    EXPECT_EQ(FloatsOf(e->defaults[2]), (std::vector<float>{0.5f, 0.5f, 0.5f, 0}));
    l.Release();

    // A textured material adds its texture; one with an EffectInstance
    // child takes that instead, parameters in file order.
    const std::string body =
        "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 2; 3;0,1,2;, 3;0,2,1;; MeshMaterialList { 2; 2; 0, 1;;"
        " Material { 1;0;0;1;; 7; 0.25;0.5;0.75;; 0;0;1;; TextureFilename { \"road.dds\"; } }"
        " Material { 0;1;0;1;; 5; 1;1;1;; 0;0;0;; EffectInstance { \"shiny.fx\";"
        " EffectParamFloats { \"Tint\"; 3; 1.0, 0.5, 0.25;; } EffectParamString { \"Map\"; \"b.dds\"; }"
        " EffectParamDWord { \"Passes\"; 2; } } } } }\n";
    l = LoadText(device, body, true);
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_EQ(l.count, 2u);
    ExpectSelfContained(l.effects, 2);
    e = static_cast<const EffectInstance*>(l.effects->GetDataPointer());
    EXPECT_EQ(e[0].effectFilename, nullptr);
    ASSERT_EQ(e[0].numDefaults, 6u);
    EXPECT_EQ(FloatsOf(e[0].defaults[1]), (std::vector<float>{7}));
    EXPECT_EQ(FloatsOf(e[0].defaults[2]), (std::vector<float>{0.25f, 0.5f, 0.75f, 1}));
    EXPECT_EQ(FloatsOf(e[0].defaults[3]), (std::vector<float>{0, 0, 1, 1}));
    EXPECT_EQ(FloatsOf(e[0].defaults[4]), (std::vector<float>{0, 0, 0, 1}));
    EXPECT_STREQ(e[0].defaults[5].parameterName, "Texture0@Name");
    EXPECT_EQ(e[0].defaults[5].type, EFFECT_DEFAULT_STRING);
    EXPECT_EQ(e[0].defaults[5].numBytes, 9u) << "the name with its terminator";
    EXPECT_STREQ(static_cast<const char*>(e[0].defaults[5].value), "road.dds");
    ASSERT_NE(e[1].effectFilename, nullptr);
    EXPECT_STREQ(e[1].effectFilename, "shiny.fx");
    ASSERT_EQ(e[1].numDefaults, 3u);
    EXPECT_STREQ(e[1].defaults[0].parameterName, "Tint");
    EXPECT_EQ(FloatsOf(e[1].defaults[0]), (std::vector<float>{1.0f, 0.5f, 0.25f}));
    EXPECT_EQ(e[1].defaults[1].type, EFFECT_DEFAULT_STRING);
    EXPECT_STREQ(static_cast<const char*>(e[1].defaults[1].value), "b.dds");
    EXPECT_EQ(e[1].defaults[2].type, EFFECT_DEFAULT_DWORD);
    EXPECT_EQ(*static_cast<const DWORD*>(e[1].defaults[2].value), 2u);
    l.Release();
}

TEST_F(MeshTest, MergedMeshesKeepEveryMaterialsEffectInOrder) {
    const std::string first =
        "Mesh { 3; 0;0;0;, 1;0;0;, 1;0;1;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;;"
        " Material { 1;0;0;1;; 5; 1;1;1;; 0;0;0;; EffectInstance { \"a.fx\"; } } } }\n";
    const std::string second =
        "Mesh { 3; 0;5;0;, 1;5;0;, 1;5;1;; 1; 3;0,1,2;; MeshMaterialList { 2; 1; 1;;"
        " Material { 0;1;0;1;; 5; 1;1;1;; 0;0;0;; } Material { 0;0;1;1;; 5; 1;1;1;; 0;0;0;;"
        " EffectInstance { \"c.fx\"; } } } }\n";
    // A mesh without materials in between brings the grey material's.
    Loaded l = LoadText(device, first + std::string(kQuad) + second, true);
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_EQ(l.count, 4u);
    ExpectSelfContained(l.effects, 4);
    const EffectInstance* e = static_cast<const EffectInstance*>(l.effects->GetDataPointer());
    EXPECT_STREQ(e[0].effectFilename, "a.fx");
    EXPECT_EQ(e[1].effectFilename, nullptr);
    EXPECT_EQ(FloatsOf(e[1].defaults[0]), (std::vector<float>{0.5f, 0.5f, 0.5f, 0}));
    EXPECT_EQ(e[2].effectFilename, nullptr);
    EXPECT_EQ(FloatsOf(e[2].defaults[0]), (std::vector<float>{0, 1, 0, 1}));
    EXPECT_STREQ(e[3].effectFilename, "c.fx");
    l.Release();
}
