// Reading text .x files: member types and their packing, arrays, nested
// types, children and references, and the codes for malformed files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/xfile/dxfile.h"
#include "x_test_util.h"

namespace {

using xtest::Parse;

// One member of every type, and arrays sized by constants, by a member and
// by two dimensions.
const char kAllTypes[] =
    "xof 0303txt 0032\n"
    "template AllTypes {\n"
    " <0A0B0C0D-1111-2222-3333-444455556666>\n"
    " WORD w; DWORD d; FLOAT f; DOUBLE g; CHAR c; UCHAR u; BYTE b; SWORD sw; SDWORD sd; STRING s;\n"
    " array WORD pair[2]; DWORD n; array FLOAT floats[n]; array STRING names[n]; array UCHAR grid[2][n];\n"
    "}\n"
    "AllTypes sample {\n"
    " 65535; 4294967295; -1.5; 0.125; -128; 255; 7; -32768; -2147483648; \"hello world\";\n"
    " 1, 2; 3; 0.5, 1.5, 2.5; \"a\", \"bb\", \"\"; 1, 2, 3, 4, 5, 6;\n"
    "}\n";

template <class T>
T At(const xfile::Node& n, size_t offset) {
    T v;
    EXPECT_LE(offset + sizeof(T), n.data.size());
    std::memcpy(&v, n.data.data() + offset, sizeof(T));
    return v;
}

TEST(XFileText, PacksEveryMemberTypeLittleEndianWithoutPadding) {
    xfile::Document doc;
    std::string reason;
    ASSERT_EQ(Parse(kAllTypes, doc, &reason), S_OK) << reason;
    ASSERT_EQ(doc.objects.size(), 1u);
    const xfile::Node& n = *doc.objects[0];
    constexpr size_t P = sizeof(const char*);
    // w2 d4 f4 g8 c1 u1 b1 sw2 sd4 s(P) pair4 n4 floats12 names(3P) grid6
    ASSERT_EQ(n.data.size(), 2 + 4 + 4 + 8 + 1 + 1 + 1 + 2 + 4 + P + 4 + 4 + 12 + 3 * P + 6);
    EXPECT_EQ(n.data[0], 0xFF);
    EXPECT_EQ(n.data[1], 0xFF);
    EXPECT_EQ(At<uint32_t>(n, 2), 0xFFFFFFFFu);
    EXPECT_EQ(At<float>(n, 6), -1.5f);
    EXPECT_EQ(At<double>(n, 10), 0.125);
    EXPECT_EQ(At<int8_t>(n, 18), -128);
    EXPECT_EQ(At<uint8_t>(n, 19), 255);
    EXPECT_EQ(At<uint8_t>(n, 20), 7);
    EXPECT_EQ(At<int16_t>(n, 21), -32768);
    EXPECT_EQ(At<int32_t>(n, 23), INT32_MIN);
    EXPECT_STREQ(At<const char*>(n, 27), "hello world");
    size_t o = 27 + P;
    EXPECT_EQ(At<uint16_t>(n, o), 1);
    EXPECT_EQ(At<uint16_t>(n, o + 2), 2);
    EXPECT_EQ(At<uint32_t>(n, o + 4), 3u);
    EXPECT_EQ(At<float>(n, o + 8), 0.5f);
    EXPECT_EQ(At<float>(n, o + 16), 2.5f);
    EXPECT_STREQ(At<const char*>(n, o + 20), "a");
    EXPECT_STREQ(At<const char*>(n, o + 20 + P), "bb");
    EXPECT_STREQ(At<const char*>(n, o + 20 + 2 * P), "");
    for (int i = 0; i < 6; ++i) EXPECT_EQ(n.data[o + 20 + 3 * P + i], i + 1);
    // Members are found by offset: n starts after pair.
    ASSERT_EQ(n.memberOffsets.size(), n.type->members.size() + 1);
    EXPECT_EQ(n.memberOffsets[11], o + 4);
    EXPECT_EQ(n.memberOffsets.back(), n.data.size());
}

TEST(XFileText, NestedTypesAndArraysOfStructsSizedByMembers) {
    const char text[] =
        "xof 0302txt 0032\n"
        "Mesh quad {\n"
        " 4; -1.0;-1.0;0.0;, 1.0;-1.0;0.0;, 1.0;1.0;0.0;, -1.0;1.0;0.0;;\n"
        " 2; 3;0,1,2;, 4;0,1,2,3;;\n"
        "}\n";
    xfile::Document doc;
    ASSERT_EQ(Parse(text, doc), S_OK);
    const xfile::Node& m = *doc.objects[0];
    // nVertices, 4 vectors, nFaces, then (3; 3 indices) and (4; 4 indices).
    ASSERT_EQ(m.data.size(), 4 + 4 * 12 + 4 + (4 + 12) + (4 + 16));
    EXPECT_EQ(At<uint32_t>(m, 0), 4u);
    EXPECT_EQ(At<float>(m, 4 + 3 * 12), -1.0f);
    EXPECT_EQ(At<float>(m, 4 + 3 * 12 + 4), 1.0f);
    EXPECT_EQ(At<uint32_t>(m, 52), 2u);
    EXPECT_EQ(At<uint32_t>(m, 56), 3u);
    EXPECT_EQ(At<uint32_t>(m, 72), 4u);
    EXPECT_EQ(At<uint32_t>(m, 88), 3u);
}

TEST(XFileText, ToleratesTheSeparatorsAndCommentsExportersWrite) {
    // The same matrix written four ways: commas, semicolons, none, and
    // with comments and CRLF line ends.
    const char* bodies[] = {
        "1,0,0,0,0,1,0,0,0,0,1,0,2,3,4,1;;",
        "1;0;0;0;0;1;0;0;0;0;1;0;2;3;4;1;;",
        "1 0 0 0 0 1 0 0 0 0 1 0 2 3 4 1",
        "// row 1\r\n1.0, 0.0, 0.0, 0.0, # x\r\n0,1,0,0,\r\n0,0,1,0,\r\n2.0,3.0,4.0,1.0;;,\r\n",
    };
    std::string first;
    for (const char* body : bodies) {
        std::string text = std::string("xof 0303txt 0032\r\nFrameTransformMatrix {") + body + "}\r\n";
        xfile::Document doc;
        std::string reason;
        ASSERT_EQ(Parse(text, doc, &reason), S_OK) << body << ": " << reason;
        const xfile::Node& n = *doc.objects[0];
        ASSERT_EQ(n.data.size(), 64u);
        EXPECT_EQ(At<float>(n, 48), 2.0f);
        EXPECT_EQ(At<float>(n, 56), 4.0f);
        if (first.empty()) first = xtest::Describe(doc);
        EXPECT_EQ(xtest::Describe(doc), first);
    }
}

TEST(XFileText, ObjectsHaveNamesIdsChildrenAndReferences) {
    const char text[] =
        "xof 0303txt 0032\n"
        "Material Red { <01234567-89AB-CDEF-0123-456789ABCDEF> 1;0;0;1;; 5; 1;1;1;; 0;0;0;; TextureFilename { \"red.png\"; } }\n"
        "Frame Root {\n"
        "  Frame Child { }\n"
        "  Mesh Tri { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
        "    MeshMaterialList { 2; 1; 1;; { Red } { <01234567-89ab-cdef-0123-456789abcdef> } }\n"
        "  }\n"
        "}\n";
    xfile::Document doc;
    std::string reason;
    ASSERT_EQ(Parse(text, doc, &reason), S_OK) << reason;
    ASSERT_EQ(doc.objects.size(), 2u);
    EXPECT_EQ(doc.dataObjects, 6u);
    EXPECT_EQ(doc.references, 2u);
    const xfile::Node& red = *doc.objects[0];
    EXPECT_EQ(red.name, "Red");
    ASSERT_TRUE(red.hasGuid);
    EXPECT_EQ(red.guid.Data1, 0x01234567u);
    EXPECT_EQ(red.guid.Data4[7], 0xEF);
    EXPECT_EQ(red.data.size(), 44u);
    ASSERT_EQ(red.children.size(), 1u);
    EXPECT_STREQ(At<const char*>(*red.children[0], 0), "red.png");

    const xfile::Node& list = *doc.objects[1]->children[1]->children[0];
    ASSERT_EQ(list.children.size(), 2u);
    for (const auto& ref : list.children) {
        EXPECT_EQ(ref->kind, xfile::Node::Kind::Reference);
        EXPECT_EQ(ref->target, &red);
    }

    // Names that look like numbers, and names that are keywords.
    xfile::Document numbered;
    ASSERT_EQ(Parse("xof 0303txt 0032\nFrame 1 { } Frame array { } Frame f { {1} {array} }", numbered, &reason), S_OK)
        << reason;
    EXPECT_EQ(numbered.objects[0]->name, "1");
    EXPECT_EQ(numbered.objects[2]->children[0]->target, numbered.objects[0].get());
    EXPECT_EQ(numbered.objects[2]->children[1]->target, numbered.objects[1].get());
}

TEST(XFileText, TemplatesOfTheFileAndRestrictedChildren) {
    const char text[] =
        "xof 0303txt 0032\n"
        "template Leaf { <11111111-0000-0000-0000-000000000001> DWORD v; }\n"
        "template Other { <11111111-0000-0000-0000-000000000002> DWORD v; }\n"
        "template OnlyLeaves { <11111111-0000-0000-0000-000000000003> [ Leaf <11111111-0000-0000-0000-000000000001> ] }\n"
        "template Closed { <11111111-0000-0000-0000-000000000004> DWORD v; }\n"
        "OnlyLeaves { Leaf { 1; } Leaf a { 2; } }\n"
        "Leaf b { 3; }\n";
    xfile::Document doc;
    std::string reason;
    ASSERT_EQ(Parse(text, doc, &reason), S_OK) << reason;
    EXPECT_EQ(doc.objects[0]->children.size(), 2u);

    struct Case {
        const char* body;
        HRESULT expected;
    } cases[] = {
        {"OnlyLeaves { Other { 1; } }", DXFILEERR_BADOBJECT},
        {"OnlyLeaves { { c } } Other c { 1; }", DXFILEERR_BADOBJECT},
        {"Closed { 1; Leaf { 1; } }", DXFILEERR_BADOBJECT},
        {"Closed { 1; { b } } Leaf b { 1; }", DXFILEERR_BADOBJECT},
        {"OnlyLeaves { { b } } Leaf b { 1; }", S_OK},
    };
    std::string head(text, std::strstr(text, "OnlyLeaves { Leaf") - text);
    for (const Case& c : cases) {
        xfile::Document d;
        EXPECT_EQ(Parse(head + c.body, d), c.expected) << c.body;
    }
}

// Malformed files each fail with their code, quickly, whatever the counts say.
TEST(XFileText, MalformedFilesFailWithTheirCodes) {
    struct Case {
        const char* text;
        HRESULT expected;
    } cases[] = {
        {"xof 0303txt 0032\nNoSuchTemplate { 1; }", DXFILEERR_NOTEMPLATE},
        {"xof 0303txt 0032\ntemplate T { <11111111-0000-0000-0000-000000000001> Missing m; }", DXFILEERR_NOTEMPLATE},
        {"xof 0303txt 0032\nVector { 1; 2; }", DXFILEERR_PARSEERROR},
        {"xof 0303txt 0032\nVector { 1; 2; 3; 4; }", DXFILEERR_BADARRAYSIZE},
        {"xof 0303txt 0032\nVector { 1; 2; 3;", DXFILEERR_PARSEERROR},
        {"xof 0303txt 0032\nMesh { 2147483648; 1;2;3;; }", DXFILEERR_BADARRAYSIZE},
        {"xof 0303txt 0032\nMesh { 4294967295; }", DXFILEERR_BADARRAYSIZE},
        {"xof 0303txt 0032\nMeshFace { 2; 5; }", DXFILEERR_PARSEERROR},
        {"xof 0303txt 0032\nHeader { 70000; 0; 0; }", DXFILEERR_BADVALUE},
        {"xof 0303txt 0032\nHeader { 1.5; 0; 0; }", DXFILEERR_BADVALUE},
        {"xof 0303txt 0032\nHeader { \"one\"; 0; 0; }", DXFILEERR_BADVALUE},
        {"xof 0303txt 0032\nTextureFilename { 12; }", DXFILEERR_BADVALUE},
        {"xof 0303txt 0032\nTextureFilename { \"open", DXFILEERR_PARSEERROR},
        {"xof 0303txt 0032\nFrame { { } }", DXFILEERR_PARSEERROR},
        {"xof 0303txt 0032\nFrame { { nobody } }", DXFILEERR_BADDATAREFERENCE},
        {"xof 0303txt 0032\nFrame a { { a } }", DXFILEERR_BADDATAREFERENCE},
        {"xof 0303txt 0032\nFrame a { Frame b { { c } } } Frame c { { a } }", DXFILEERR_BADDATAREFERENCE},
        {"xof 0303txt 0032\ntemplate T { <11111111-0000-0000-0000-000000000001> DWORD n; array DWORD v[m]; }",
         DXFILEERR_BADARRAYSIZE},
        {"xof 0303txt 0032\ntemplate T { <11111111-0000-0000-0000-000000000001> FLOAT n; array DWORD v[n]; }",
         DXFILEERR_BADARRAYSIZE},
        {"xof 0303txt 0032\ntemplate T { <11111111-0000-0000-0000-000000000001> VOID v; }", DXFILEERR_BADTYPE},
        {"xof 0303txt 0032\ntemplate T { <1111-0000> DWORD v; }", DXFILEERR_PARSEERROR},
        {"xof 0303txt 0032\nFrame @ { }", DXFILEERR_PARSEERROR},
    };
    for (const Case& c : cases) {
        xfile::Document doc;
        std::string reason;
        EXPECT_EQ(Parse(c.text, doc, &reason), c.expected) << c.text << " -> " << reason;
        EXPECT_FALSE(reason.empty()) << c.text;
    }
}

TEST(XFileText, NestingAndReferenceFanOutAreBounded) {
    auto nested = [](int depth) {
        std::string s = "xof 0303txt 0032\n";
        for (int i = 0; i < depth; ++i) s += "Frame {";
        for (int i = 0; i < depth; ++i) s += "}";
        return s;
    };
    xfile::Document ok, deep;
    EXPECT_EQ(Parse(nested(xfile::kMaxObjectDepth), ok), S_OK);
    EXPECT_EQ(Parse(nested(xfile::kMaxObjectDepth + 1), deep), DXFILEERR_PARSEERROR);

    // Templates nested one inside the next, deeper than allowed.
    std::string types = "xof 0303txt 0032\ntemplate T0 { <00000000-0000-0000-0000-000000000000> DWORD v; }\n";
    for (int i = 1; i <= xfile::kMaxTemplateDepth; ++i)
        types += "template T" + std::to_string(i) + " { <00000000-0000-0000-0000-000000000000> T" +
                 std::to_string(i - 1) + " v; }\n";
    xfile::Document deepTypes;
    EXPECT_EQ(Parse(types, deepTypes), DXFILEERR_BADTYPE);

    // A chain of frames each referring to the next: a walk that follows
    // references would nest as deep as the chain.
    std::string chain = "xof 0303txt 0032\n";
    for (int i = 0; i < 2000; ++i) chain += "Frame f" + std::to_string(i) + " { {f" + std::to_string(i + 1) + "} }\n";
    chain += "Frame f2000 { }\n";
    xfile::Document chained;
    EXPECT_EQ(Parse(chain, chained), DXFILEERR_BADDATAREFERENCE);

    // Each level refers twice to the next: 2^40 objects for a walk.
    std::string fan = "xof 0303txt 0032\n";
    for (int i = 0; i < 40; ++i)
        fan += "Frame g" + std::to_string(i) + " { {g" + std::to_string(i + 1) + "} {g" + std::to_string(i + 1) + "} }\n";
    fan += "Mesh g40 { 1; 0;0;0;; 1; 3;0,0,0;; }\n";
    xfile::Document fanned;
    EXPECT_EQ(Parse(fan, fanned), DXFILEERR_BADDATAREFERENCE);
}

TEST(XFileText, ArraysOfEmptyTypesCostNothing) {
    // 4 billion elements of a type without values: nothing to read or pack.
    const char text[] =
        "xof 0303txt 0032\n"
        "template Empty { <11111111-0000-0000-0000-000000000001> }\n"
        "template Many { <11111111-0000-0000-0000-000000000002> DWORD n; array Empty e[n][n]; DWORD after; }\n"
        "Many { 4294967295; 7; }\n";
    xfile::Document doc;
    std::string reason;
    ASSERT_EQ(Parse(text, doc, &reason), S_OK) << reason;
    EXPECT_EQ(doc.objects[0]->data.size(), 8u);
    EXPECT_EQ(At<uint32_t>(*doc.objects[0], 4), 7u);
}

}  // namespace
