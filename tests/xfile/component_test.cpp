// The component as the mesh loader meets it: loaded at run time through
// LoadLibraryA("xfile.dll"), templates registered from templates.h, files
// walked through the object interfaces. Also the dump tool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/win32/windows.h"
#include "platform/xfile/dxfile.h"
#include "platform/xfile/templates.h"
#include "x_encoder.h"
#include "x_test_util.h"

namespace {

const char kScene[] =
    "xof 0303txt 0032\n"
    "Material Red { <01234567-89AB-CDEF-0123-456789ABCDEF> 1.0;0.0;0.0;1.0;; 5.0; 1.0;1.0;1.0;; 0.0;0.0;0.0;;\n"
    "  TextureFilename { \"red.png\"; } }\n"
    "Frame Root {\n"
    "  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 5,6,7,1;; }\n"
    "  Mesh Tri { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
    "    MeshMaterialList { 1; 1; 0;; { Red } }\n"
    "  }\n"
    "}\n";

class XFileComponent : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("xfile.dll");
        ASSERT_NE(module_, nullptr) << "libvintrel-xfile.so beside the test";
        auto create = reinterpret_cast<DirectXFileCreateFunction>(GetProcAddress(module_, "DirectXFileCreate"));
        ASSERT_NE(create, nullptr);
        ASSERT_EQ(create(&file_), S_OK);
        ASSERT_EQ(file_->RegisterTemplates(const_cast<char*>(XTEMPLATES_STANDARD), XTEMPLATES_STANDARD_BYTES), S_OK);
        ASSERT_EQ(file_->RegisterTemplates(const_cast<char*>(XTEMPLATES_SKIN_EFFECT), XTEMPLATES_SKIN_EFFECT_BYTES), S_OK);
        ASSERT_EQ(file_->RegisterTemplates(const_cast<char*>(XTEMPLATES_EXTENDED), XTEMPLATES_EXTENDED_BYTES), S_OK);
    }
    void TearDown() override {
        SafeRelease(file_);
        // The module stays loaded: objects of other tests may still be alive.
    }
    IDirectXFileEnumObject* Open(const std::string& text) {
        bytes_.assign(text.begin(), text.end());
        DXFILELOADMEMORY memory{bytes_.data(), static_cast<DWORD>(bytes_.size())};
        IDirectXFileEnumObject* e = nullptr;
        EXPECT_EQ(file_->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e), S_OK);
        return e;
    }

    HMODULE module_ = nullptr;
    IDirectXFile* file_ = nullptr;
    std::vector<char> bytes_;
};

std::string NameOf(IDirectXFileObject* o) {
    DWORD size = 0;
    EXPECT_EQ(o->GetName(nullptr, &size), S_OK);
    std::string name(size, '\0');
    EXPECT_EQ(o->GetName(name.data(), &size), S_OK);
    name.resize(size ? size - 1 : 0);
    return name;
}

TEST_F(XFileComponent, WalksAFileAsTheMeshLoaderDoes) {
    IDirectXFileEnumObject* e = Open(kScene);
    ASSERT_NE(e, nullptr);
    IDirectXFileData* material = nullptr;
    IDirectXFileData* root = nullptr;
    ASSERT_EQ(e->GetNextDataObject(&material), S_OK);
    ASSERT_EQ(e->GetNextDataObject(&root), S_OK);
    IDirectXFileData* none = reinterpret_cast<IDirectXFileData*>(1);
    EXPECT_EQ(e->GetNextDataObject(&none), DXFILEERR_NOMOREOBJECTS);
    EXPECT_EQ(none, nullptr);
    // Objects outlive the enumerator and the file object.
    e->Release();
    SafeRelease(file_);

    const GUID* type = nullptr;
    ASSERT_EQ(material->GetType(&type), S_OK);
    EXPECT_EQ(*type, TID_D3DRMMaterial);
    EXPECT_EQ(NameOf(material), "Red");
    GUID id{};
    ASSERT_EQ(material->GetId(&id), S_OK);
    EXPECT_EQ(id.Data1, 0x01234567u);
    DWORD size = 0;
    void* data = nullptr;
    ASSERT_EQ(material->GetData(nullptr, &size, &data), S_OK);
    ASSERT_EQ(size, 44u);
    float power;
    std::memcpy(&power, static_cast<char*>(data) + 16, 4);
    EXPECT_EQ(power, 5.0f);
    // One member by name: its offset and size in the packed block.
    void* member = nullptr;
    ASSERT_EQ(material->GetData("power", &size, &member), S_OK);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(member, static_cast<char*>(data) + 16);
    ASSERT_EQ(material->GetData("specularColor", &size, &member), S_OK);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(material->GetData("nothing", &size, &member), DXFILEERR_NOTFOUND);

    // The frame: its matrix, then the mesh with a referenced material.
    ASSERT_EQ(root->GetType(&type), S_OK);
    EXPECT_EQ(*type, TID_D3DRMFrame);
    IDirectXFileObject* child = nullptr;
    IDirectXFileData* matrix = nullptr;
    ASSERT_EQ(root->GetNextObject(&child), S_OK);
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&matrix)), S_OK);
    child->Release();
    ASSERT_EQ(matrix->GetData(nullptr, &size, &data), S_OK);
    ASSERT_EQ(size, 64u);
    float m41;
    std::memcpy(&m41, static_cast<char*>(data) + 48, 4);
    EXPECT_EQ(m41, 5.0f);
    matrix->Release();

    IDirectXFileData* mesh = nullptr;
    ASSERT_EQ(root->GetNextObject(&child), S_OK);
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&mesh)), S_OK);
    child->Release();
    EXPECT_EQ(root->GetNextObject(&child), DXFILEERR_NOMOREOBJECTS);

    IDirectXFileData* list = nullptr;
    ASSERT_EQ(mesh->GetNextObject(&child), S_OK);
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&list)), S_OK);
    child->Release();
    ASSERT_EQ(list->GetNextObject(&child), S_OK);
    IDirectXFileData* notData = nullptr;
    EXPECT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&notData)), E_NOINTERFACE);
    EXPECT_EQ(notData, nullptr);
    IDirectXFileDataReference* ref = nullptr;
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(&ref)), S_OK);
    child->Release();
    EXPECT_EQ(NameOf(ref), "Red");
    IDirectXFileData* resolved = nullptr;
    ASSERT_EQ(ref->Resolve(&resolved), S_OK);
    ref->Release();
    EXPECT_EQ(NameOf(resolved), "Red");
    // The texture name child of the resolved material: a pointer to its string.
    ASSERT_EQ(resolved->GetNextObject(&child), S_OK);
    IDirectXFileData* texture = nullptr;
    ASSERT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&texture)), S_OK);
    child->Release();
    ASSERT_EQ(texture->GetData(nullptr, &size, &data), S_OK);
    ASSERT_EQ(size, sizeof(char*));
    const char* textureName;
    std::memcpy(&textureName, data, sizeof textureName);
    EXPECT_STREQ(textureName, "red.png");
    // An object without a name gives the empty name.
    EXPECT_EQ(NameOf(texture), "");
    for (IUnknown* o : {static_cast<IUnknown*>(texture), static_cast<IUnknown*>(resolved),
                        static_cast<IUnknown*>(list), static_cast<IUnknown*>(mesh), static_cast<IUnknown*>(root)})
        o->Release();
    // Still valid: the string belongs to the material object's file data.
    EXPECT_EQ(material->Release(), 0u);
}

TEST_F(XFileComponent, FindsObjectsByNameAndIdAndReportsMisses) {
    IDirectXFileEnumObject* e = Open(kScene);
    ASSERT_NE(e, nullptr);
    IDirectXFileData* d = nullptr;
    ASSERT_EQ(e->GetDataObjectByName("Tri", &d), S_OK);
    const GUID* type;
    d->GetType(&type);
    EXPECT_EQ(*type, TID_D3DRMMesh);
    d->Release();
    const GUID red = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    ASSERT_EQ(e->GetDataObjectById(red, &d), S_OK);
    EXPECT_EQ(NameOf(d), "Red");
    // A name buffer too small is refused and told the size.
    char small[2];
    DWORD size = sizeof small;
    EXPECT_EQ(d->GetName(small, &size), DXFILEERR_BADVALUE);
    EXPECT_EQ(size, 4u);
    d->Release();
    EXPECT_EQ(e->GetDataObjectByName("Nobody", &d), DXFILEERR_NOTFOUND);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(e->GetDataObjectById(IID_IUnknown, &d), DXFILEERR_NOTFOUND);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(e->Release(), 0u);
}

TEST_F(XFileComponent, BadSourcesAndFilesFailWithoutAnEnumerator) {
    IDirectXFileEnumObject* e = reinterpret_cast<IDirectXFileEnumObject*>(1);
    EXPECT_EQ(file_->CreateEnumObject(const_cast<char*>("/nonexistent/model.x"), DXFILELOAD_FROMFILE, &e),
              DXFILEERR_FILENOTFOUND);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(file_->CreateEnumObject(nullptr, DXFILELOAD_FROMFILE, &e), DXFILEERR_BADVALUE);
    EXPECT_EQ(file_->CreateEnumObject(const_cast<char*>("x"), DXFILELOAD_FROMURL, &e), DXFILEERR_BADVALUE);
    std::string bad = "xof 0303txt 0032\nFrame { { Missing } }\n";
    DXFILELOADMEMORY memory{bad.data(), static_cast<DWORD>(bad.size())};
    EXPECT_EQ(file_->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &e), DXFILEERR_BADDATAREFERENCE);
    EXPECT_EQ(e, nullptr);
    // A template block that does not parse registers nothing.
    std::string templates = "xof 0303txt 0032\ntemplate Good { <11111111-0000-0000-0000-000000000001> DWORD v; }\n"
                            "template Bad { <11111111-0000-0000-0000-000000000002> Unknown v; }\n";
    EXPECT_EQ(file_->RegisterTemplates(templates.data(), static_cast<DWORD>(templates.size())), DXFILEERR_NOTEMPLATE);
    std::string usesGood = "xof 0303txt 0032\nGood { 1; }\n";
    DXFILELOADMEMORY goodMemory{usesGood.data(), static_cast<DWORD>(usesGood.size())};
    EXPECT_EQ(file_->CreateEnumObject(&goodMemory, DXFILELOAD_FROMMEMORY, &e), DXFILEERR_NOTEMPLATE);
}

TEST_F(XFileComponent, LoadsFromAFileInEveryForm) {
    const std::string dir = ::testing::TempDir();
    const auto text = xtest::Bytes(kScene);
    const std::vector<std::vector<uint8_t>> forms = {text, xtest::TextToBinary(kScene, 32),
                                                     xtest::Compress(xtest::TextToBinary(kScene, 64))};
    for (size_t i = 0; i < forms.size(); ++i) {
        const std::string path = dir + "/xfile_form" + std::to_string(i) + ".x";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(forms[i].data()),
                                                     static_cast<std::streamsize>(forms[i].size()));
        IDirectXFileEnumObject* e = nullptr;
        ASSERT_EQ(file_->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, &e), S_OK) << i;
        IDirectXFileData* d = nullptr;
        ASSERT_EQ(e->GetDataObjectByName("Tri", &d), S_OK);
        DWORD size = 0;
        void* data = nullptr;
        ASSERT_EQ(d->GetData("nVertices", &size, &data), S_OK);
        ASSERT_EQ(size, 4u);
        EXPECT_EQ(*static_cast<uint32_t*>(data), 3u);
        d->Release();
        e->Release();
        std::remove(path.c_str());
    }
}

TEST(XFileModule, MissingModuleReportsModNotFound) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("no_such_component.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(GetLastError())), 0x8007007Eu);
    HMODULE module = LoadLibraryA("xfile.dll");
    ASSERT_NE(module, nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "DirectXFileCreateEx"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST(XFileTemplates, BlocksMatchTheIdentifiersAndLayouts) {
    const xfile::TemplateSet& set = xtest::StandardTemplates();
    struct Expect {
        const char* name;
        GUID guid;
    } expected[] = {
        {"Header", TID_DXFILEHeader}, {"Mesh", TID_D3DRMMesh}, {"Frame", TID_D3DRMFrame},
        {"FrameTransformMatrix", TID_D3DRMFrameTransformMatrix}, {"Material", TID_D3DRMMaterial},
        {"MeshMaterialList", TID_D3DRMMeshMaterialList}, {"MeshNormals", TID_D3DRMMeshNormals},
        {"MeshTextureCoords", TID_D3DRMMeshTextureCoords}, {"MeshVertexColors", TID_D3DRMMeshVertexColors},
        {"TextureFilename", TID_D3DRMTextureFilename}, {"AnimationSet", TID_D3DRMAnimationSet},
        {"VertexDuplicationIndices", DXFILEOBJ_VertexDuplicationIndices}, {"FaceAdjacency", DXFILEOBJ_FaceAdjacency},
        {"SkinWeights", DXFILEOBJ_SkinWeights}, {"EffectInstance", DXFILEOBJ_EffectInstance},
        {"FVFData", DXFILEOBJ_FVFData}, {"VertexElement", DXFILEOBJ_VertexElement}, {"DeclData", DXFILEOBJ_DeclData},
        {"PMAttributeRange", DXFILEOBJ_PMAttributeRange}, {"PMVSplitRecord", DXFILEOBJ_PMVSplitRecord},
        {"PMInfo", DXFILEOBJ_PMInfo}, {"AnimTicksPerSecond", DXFILEOBJ_AnimTicksPerSecond},
    };
    for (const Expect& e : expected) {
        auto t = set.Find(e.name);
        ASSERT_NE(t, nullptr) << e.name;
        EXPECT_EQ(t->guid, e.guid) << e.name;
    }
    EXPECT_EQ(set.Size(), 56u);
    // The layouts the mesh loader reads.
    const char text[] =
        "xof 0303txt 0032\n"
        "Material { 1;1;1;1;; 2; 3;3;3;; 4;4;4;; }\n"
        "DeclData { 2; 1;0;3;0;, 2;0;5;1;; 3; 10,11,12; }\n"
        "FVFData { 274; 2; 7,8; }\n"
        "PMInfo { 1; 0;1;2;3;4;5;; 6; 7; 8; 1; 9;10;11;; 2; 12,13; }\n";
    xfile::Document doc;
    ASSERT_EQ(xtest::Parse(text, doc), S_OK);
    EXPECT_EQ(doc.objects[0]->data.size(), 44u);
    EXPECT_EQ(doc.objects[1]->data.size(), 4u + 2 * 16 + 4 + 3 * 4);
    EXPECT_EQ(doc.objects[2]->data.size(), 16u);
    EXPECT_EQ(doc.objects[3]->data.size(), 4u + 24 + 16 + 12 + 4 + 8);
}

TEST(XFileTool, DumpsTheTreeAndReportsErrors) {
    const std::string dir = ::testing::TempDir();
    const std::string tool = std::string(VINTREL_BINARY_DIR) + "/bin/vintrel-xdump";
    auto run = [&](const std::string& args, int& status) {
        std::string out;
        FILE* p = ::popen((tool + " " + args + " 2>/dev/null").c_str(), "r");
        char buf[512];
        while (p && std::fgets(buf, sizeof buf, p)) out += buf;
        status = p ? ::pclose(p) : -1;
        return out;
    };
    const std::string good = dir + "/xdump_good.x", bad = dir + "/xdump_bad.x";
    std::ofstream(good, std::ios::binary) << kScene;
    std::ofstream(bad, std::ios::binary) << "xof 0303txt 0032\nMesh { 5; 1;2;3;; }\n";
    int status = 0;
    EXPECT_EQ(run(good, status),
              "format=text floatsize=32\n"
              "Material name=Red size=44 children=1\n"
              "  TextureFilename name=- size=8 children=0\n"
              "Frame name=Root size=0 children=2\n"
              "  FrameTransformMatrix name=- size=64 children=0\n"
              "  Mesh name=Tri size=60 children=1\n"
              "    MeshMaterialList name=- size=12 children=1\n"
              "      ref -> Red\n"
              "objects=6 references=1\n");
    EXPECT_EQ(status, 0);
    const std::string error = run(bad, status);
    EXPECT_EQ(error.rfind("error=0x88760364 ", 0), 0u) << error;
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(run("--help", status).find("format=text|binary|tzip|bzip"), std::string::npos);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // A folder opens but cannot be read: the error line of a missing file.
    const std::string folder = run(dir, status);
    EXPECT_EQ(folder.rfind("error=0x88760359 cannot read ", 0), 0u) << folder;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    // A device that never ends is read only as far as the largest file the
    // component takes, then refused: no hang, no endless memory.
    const std::string endless = run("/dev/zero", status);
    EXPECT_EQ(endless, "error=0x88760361 /dev/zero is larger than 1 GiB\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    // The dump is the product: one lost to a full disk is a failure.
    status = std::system((tool + " " + good + " >/dev/full 2>/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    std::remove(good.c_str());
    std::remove(bad.c_str());
}

}  // namespace
