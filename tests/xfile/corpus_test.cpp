// Real-world text .x files: every one reads; the object and reference counts
// agree with a plain scan of the text; some packed values agree with what the
// text says; the binary and compressed re-encodings pack identically.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/xfile/dxfile.h"
#include "x_encoder.h"
#include "x_test_util.h"

namespace {

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    const std::filesystem::path root = std::filesystem::path(VINTREL_CORPUS_DIR) / "x";
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec))
        if (entry.is_regular_file() && entry.path().extension() == ".x") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Counts from the text alone: a '{' after a name or a GUID opens a template
// or a data object, a '{' after anything else opens a reference.
struct Counts {
    size_t templates = 0, objects = 0, references = 0;
};
Counts Scan(const std::string& text) {
    Counts c;
    char last = ';';  // the last significant character
    for (size_t i = 16; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '"') {
            i = text.find('"', i + 1);
            last = '"';
            continue;
        }
        if (ch == '#' || (ch == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
            i = text.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(ch))) continue;
        if (ch == '{') {
            if (std::isalnum(static_cast<unsigned char>(last)) || last == '_' || last == '>' || last == '.' || last == '-') ++c.objects;
            else ++c.references;
        }
        if (ch == 't' && text.compare(i, 9, "template ") == 0 && !std::isalnum(static_cast<unsigned char>(last))) ++c.templates;
        last = ch;
    }
    c.objects -= c.templates;
    return c;
}

const xfile::Node* FindByType(const xfile::Node& n, const std::string& type) {
    if (n.kind != xfile::Node::Kind::Data) return nullptr;
    if (n.type->name == type) return &n;
    for (const auto& c : n.children)
        if (const xfile::Node* f = FindByType(*c, type)) return f;
    return nullptr;
}
// The first object of this template in file order.
const xfile::Node* First(const xfile::Document& doc, const std::string& type) {
    for (const auto& n : doc.objects)
        if (const xfile::Node* f = FindByType(*n, type)) return f;
    return nullptr;
}

template <class T>
T At(const xfile::Node& n, size_t offset) {
    T v{};
    if (offset + sizeof(T) <= n.data.size()) std::memcpy(&v, n.data.data() + offset, sizeof(T));
    return v;
}

TEST(XFileCorpus, EveryFileReadsWithTheCountsItsTextShows) {
    const auto files = CorpusFiles();
    ASSERT_GE(files.size(), 11u) << VINTREL_CORPUS_DIR;
    for (const std::string& path : files) {
        const auto bytes = xtest::ReadFile(path);
        xfile::Document doc;
        std::string reason;
        ASSERT_EQ(xtest::Parse(bytes, doc, &reason), S_OK) << path << ": " << reason;
        const Counts expected = Scan(std::string(bytes.begin(), bytes.end()));
        EXPECT_EQ(doc.dataObjects, expected.objects) << path;
        EXPECT_EQ(doc.references, expected.references) << path;
        const std::string described = xtest::Describe(doc);
        EXPECT_EQ(described.find("MISMATCH"), std::string::npos) << path;
        EXPECT_EQ(described.find("(unresolved)"), std::string::npos) << path;
    }
}

TEST(XFileCorpus, PackedValuesMatchTheText) {
    const std::string root = std::string(VINTREL_CORPUS_DIR) + "/x/";
    auto load = [&](const std::string& name, xfile::Document& doc) {
        std::string reason;
        ASSERT_EQ(xtest::Parse(xtest::ReadFile(root + name), doc, &reason), S_OK) << name << ": " << reason;
    };
    {
        // "Mesh Box1 { 22; -1.000000;1.000000;1.000000;, 1.000000;-1.000000;1.000000;, ..."
        xfile::Document doc;
        load("atball/Box.x", doc);
        const xfile::Node* mesh = First(doc, "Mesh");
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->name, "Box1");
        EXPECT_EQ(At<uint32_t>(*mesh, 0), 22u);
        EXPECT_EQ(At<float>(*mesh, 4), -1.0f);
        EXPECT_EQ(At<float>(*mesh, 16), 1.0f);
        EXPECT_EQ(At<float>(*mesh, 20), -1.0f);
        const xfile::Node* header = First(doc, "Header");
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(At<uint16_t>(*header, 0), 1u);
        EXPECT_EQ(At<uint32_t>(*header, 4), 1u);
    }
    {
        // Root frame: "0.000000, 0.000000, 1.000000, 0.000000, -1.000000, ...";
        // the material names "boat.png".
        xfile::Document doc;
        load("minetest_game/boat.x", doc);
        const xfile::Node* matrix = First(doc, "FrameTransformMatrix");
        ASSERT_NE(matrix, nullptr);
        EXPECT_EQ(At<float>(*matrix, 8), 1.0f);
        EXPECT_EQ(At<float>(*matrix, 16), -1.0f);
        EXPECT_EQ(At<float>(*matrix, 60), 1.0f);
        const xfile::Node* mesh = First(doc, "Mesh");
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(At<uint32_t>(*mesh, 0), 2952u);
        EXPECT_EQ(At<float>(*mesh, 4), 0.75f);
        EXPECT_EQ(At<float>(*mesh, 8), -0.5f);
        const xfile::Node* texture = First(doc, "TextureFilename");
        ASSERT_NE(texture, nullptr);
        EXPECT_STREQ(At<const char*>(*texture, 0), "boat.png");
    }
    {
        // "MeshMaterialList { 3; 30; 1, 1, ..." with a reference "{C4DMAT_boat_png}"
        // in a file of 64-bit floats.
        xfile::Document doc;
        load("voxelibre/boat_base.x", doc);
        EXPECT_EQ(doc.header.floatSize, 64);
        const xfile::Node* list = First(doc, "MeshMaterialList");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(At<uint32_t>(*list, 0), 3u);
        EXPECT_EQ(At<uint32_t>(*list, 4), 30u);
        EXPECT_EQ(At<uint32_t>(*list, 8), 1u);
        EXPECT_EQ(list->data.size(), 8u + 30 * 4);
        const xfile::Node* ref = list->children.back().get();
        ASSERT_EQ(ref->kind, xfile::Node::Kind::Reference);
        ASSERT_NE(ref->target, nullptr);
        EXPECT_EQ(ref->target->name, "C4DMAT_boat_png");
        EXPECT_EQ(ref->target->type->name, "Material");
    }
    {
        // "Mesh CINEMA4D_Mesh { 16; // Lever1\n -4.481;-4.311;-6.25;,"
        xfile::Document doc;
        load("voxelibre/levier_off.x", doc);
        const xfile::Node* mesh = First(doc, "Mesh");
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(At<uint32_t>(*mesh, 0), 16u);
        EXPECT_EQ(At<float>(*mesh, 4), -4.481f);
        EXPECT_EQ(At<float>(*mesh, 12), -6.25f);
    }
    {
        // The skinned character: Material "Character" with "character.png".
        xfile::Document doc;
        load("minetest_game/character.x", doc);
        const xfile::Node* material = First(doc, "Material");
        ASSERT_NE(material, nullptr);
        EXPECT_EQ(material->name, "Character");
        EXPECT_EQ(At<float>(*material, 0), 0.64f);
        EXPECT_EQ(At<float>(*material, 16), 96.078431f);
        ASSERT_EQ(material->children.size(), 1u);
        EXPECT_STREQ(At<const char*>(*material->children[0], 0), "character.png");
        const xfile::Node* header = First(doc, "XSkinMeshHeader");
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(At<uint16_t>(*header, 0), 2u);
        EXPECT_EQ(At<uint16_t>(*header, 2), 6u);
        EXPECT_EQ(At<uint16_t>(*header, 4), 7u);
    }
}

TEST(XFileCorpus, BinaryAndCompressedFormsPackIdentically) {
    for (const std::string& path : CorpusFiles()) {
        const auto bytes = xtest::ReadFile(path);
        const std::string text(bytes.begin(), bytes.end());
        xfile::Document original;
        ASSERT_EQ(xtest::Parse(bytes, original), S_OK) << path;
        const std::string expected = xtest::Describe(original);
        const auto bin32 = xtest::TextToBinary(text, 32);
        const std::vector<std::vector<uint8_t>> forms = {bin32, xtest::TextToBinary(text, 64),
                                                         xtest::Compress(bytes), xtest::Compress(bin32, 4096)};
        for (size_t i = 0; i < forms.size(); ++i) {
            xfile::Document doc;
            std::string reason;
            ASSERT_EQ(xtest::Parse(forms[i], doc, &reason), S_OK) << path << " form " << i << ": " << reason;
            EXPECT_EQ(doc.dataObjects, original.dataObjects);
            // 32-bit floats of a 64-bit text file round differently only
            // through DOUBLE members, which these files do not use.
            EXPECT_TRUE(xtest::Describe(doc) == expected) << path << " form " << i;
        }
    }
}

}  // namespace
