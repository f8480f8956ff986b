#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/debug.h"
#include "scene/model.h"
#include "tests/vehicle/vehicle_test_support.h"

namespace fs = std::filesystem;

namespace {

// Counts the indexed draws the device refuses outside BeginScene/EndScene:
// one debug message each, so the draws a model issues can be counted.
class DrawCounter {
public:
    DrawCounter() { previous_ = SetDebugOutputHookForTesting(&DrawCounter::Hook, this); }
    ~DrawCounter() { SetDebugOutputHookForTesting(previous_, nullptr); }
    DrawCounter(const DrawCounter&) = delete;
    DrawCounter& operator=(const DrawCounter&) = delete;
    int draws = 0;

private:
    static void Hook(const char* text, void* self) {
        if (std::strstr(text, "DrawIndexedPrimitive:")) ++static_cast<DrawCounter*>(self)->draws;
    }
    DebugOutputHook previous_;
};

// A working directory of small ".x" files and one texture.
class ModelTest : public vehicletest::DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        dir_ = fs::temp_directory_path() / ("vintrel-model-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        fs::copy_file(fs::path(VINTREL_DATA_DIR) / "kerb.tga", dir_ / "kerb.tga");
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
        DeviceTest::TearDown();
    }
    static void Write(const char* name, const std::string& text) { std::ofstream(name) << text; }

    fs::path dir_, previous_;
};

constexpr char kHeader[] = "xof 0303txt 0032\n";

TEST_F(ModelTest, MissingOrBrokenFilesLeaveAnEmptyModelThatDrawsNothing) {
    Write("broken.x", std::string(kHeader) + "Mesh { 3; 0;0;0;, 1;0;0;");
    for (const char* name : {"no-such-file.x", "broken.x", static_cast<const char*>(nullptr)}) {
        Model model;
        EXPECT_EQ(model.LoadModel(device, name), 0) << (name ? name : "(null)");
        EXPECT_EQ(model.mesh, nullptr);
        EXPECT_EQ(model.materials, nullptr);
        EXPECT_EQ(model.textures, nullptr);
        EXPECT_EQ(model.materialCount, 0u);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        DrawCounter counter;
        model.DrawModel(device);
        EXPECT_EQ(counter.draws, 0);
        DWORD cull = 0;
        device->GetRenderState(D3DRS_CULLMODE, &cull);
        EXPECT_EQ(cull, DWORD{D3DCULL_CCW});
    }
    // Before the program has its device nothing loads or draws either.
    Model model;
    EXPECT_EQ(model.LoadModel("no-such-file.x"), 0);
    model.DrawModel();
}

TEST_F(ModelTest, FileWithoutMaterialsGetsTheAdjustedDefault) {
    Write("plain.x", std::string(kHeader) + "Mesh { 4; 0;0;0;, 1;0;0;, 1;0;1;, 0;0;1;; 1; 4;0,1,2,3;; }\n");
    Model model;
    ASSERT_EQ(model.LoadModel(device, "plain.x"), 1);
    ASSERT_NE(model.mesh, nullptr);
    EXPECT_EQ(model.mesh->GetFaceCount(), 2u);
    ASSERT_EQ(model.materialCount, 1u);
    const D3DMATERIAL9& m = model.materials[0];
    EXPECT_EQ(m.Diffuse.r, 0.5f);
    EXPECT_EQ(m.Diffuse.a, 128.0f);
    EXPECT_EQ(std::memcmp(&m.Ambient, &m.Diffuse, sizeof m.Diffuse), 0);
    EXPECT_EQ(std::memcmp(&m.Specular, &m.Diffuse, sizeof m.Diffuse), 0);
    EXPECT_EQ(m.Power, 10.0f);
    EXPECT_EQ(model.textures[0], nullptr);
    // Buffers in system memory, so the probes can lock them every frame.
    EXPECT_EQ(model.mesh->GetCreationOptions() & (OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM),
              OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM);

    DrawCounter counter;
    model.DrawModel(device);
    EXPECT_EQ(counter.draws, 1);
}

TEST_F(ModelTest, MaterialsAreAdjustedAndEachGroupGetsItsOwnTexture) {
    // Two triangles, the first using material 1; material 0 names a file
    // that is not there, material 1 a real one.
    Write("two.x", std::string(kHeader) +
                       "Mesh { 6; 0;0;0;, 1;0;0;, 1;0;1;, 5;0;0;, 6;0;0;, 6;0;1;;\n"
                       " 2; 3;0,1,2;, 3;3,4,5;;\n"
                       " MeshMaterialList { 2; 2; 1, 0;;\n"
                       "  Material { 1;0;0;0.25;; 5; 0.9;0.8;0.7;; 0.1;0.2;0.3;; TextureFilename { \"missing.dds\"; } }\n"
                       "  Material { 0;1;0;1;; 40; 1;1;1;; 0;0;0;; TextureFilename { \"kerb.tga\"; } }\n"
                       " }\n}\n");
    Model model;
    ASSERT_EQ(model.LoadModel(device, "two.x"), 1);
    ASSERT_EQ(model.materialCount, 2u);

    const D3DMATERIAL9& red = model.materials[0];
    EXPECT_EQ(red.Diffuse.r, 1.0f);
    EXPECT_EQ(red.Diffuse.g, 0.0f);
    EXPECT_EQ(red.Diffuse.a, 128.0f) << "a float 128, not 128/255";
    for (const D3DCOLORVALUE* c : {&red.Ambient, &red.Specular})
        EXPECT_EQ(std::memcmp(c, &red.Diffuse, sizeof *c), 0) << "ambient and specular follow the diffuse colour";
    EXPECT_EQ(red.Power, 10.0f);
    EXPECT_FLOAT_EQ(red.Emissive.r, 0.1f);
    EXPECT_FLOAT_EQ(red.Emissive.g, 0.2f);
    EXPECT_FLOAT_EQ(red.Emissive.b, 0.3f);
    EXPECT_EQ(model.textures[0], nullptr) << "a missing texture leaves the group untextured";

    const D3DMATERIAL9& green = model.materials[1];
    EXPECT_EQ(green.Diffuse.g, 1.0f);
    EXPECT_EQ(green.Specular.r, 0.0f);
    EXPECT_EQ(green.Power, 10.0f);
    ASSERT_NE(model.textures[1], nullptr);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(model.textures[1]->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_GT(desc.Width, 0u);

    // Sorted by attribute: group i is the faces of material i.
    AttributeRange table[4];
    DWORD entries = 4;
    ASSERT_EQ(model.mesh->CopyAttributeTable(table, &entries), S_OK);
    ASSERT_EQ(entries, 2u);
    EXPECT_EQ(table[0].AttribId, 0u);
    EXPECT_EQ(table[0].FaceCount, 1u);
    EXPECT_EQ(table[1].AttribId, 1u);
    DWORD* attributes = nullptr;
    ASSERT_EQ(model.mesh->LockAttributes(D3DLOCK_READONLY, &attributes), S_OK);
    EXPECT_EQ(attributes[0], 0u);
    EXPECT_EQ(attributes[1], 1u);
    model.mesh->UnlockAttributes();

    // Each group is drawn with its own material and texture; the last
    // group's stay set.
    DrawCounter counter;
    model.DrawModel(device);
    EXPECT_EQ(counter.draws, 2);
    D3DMATERIAL9 set{};
    device->GetMaterial(&set);
    EXPECT_EQ(std::memcmp(&set, &green, sizeof set), 0);
    IDirect3DBaseTexture9* bound = nullptr;
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, model.textures[1]);
    if (bound) bound->Release();
    // The device is released to zero at the end of the test: the model
    // gives back its mesh and texture references when destroyed.
}

}  // namespace
