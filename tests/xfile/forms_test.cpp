// The binary and compressed forms: the same content read from text, binary
// (32- and 64-bit floats), "tzip" and "bzip" packs to the same data; broken
// headers, token streams and compressed blocks fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/xfile/dxfile.h"
#include "platform/xfile/format.h"
#include "x_encoder.h"
#include "x_test_util.h"

namespace {

using xtest::Bytes;
using xtest::Parse;

const char kContent[] =
    "xof 0303txt 0032\n"
    "template AllTypes {\n"
    " <0A0B0C0D-1111-2222-3333-444455556666>\n"
    " WORD w; DWORD d; FLOAT f; DOUBLE g; CHAR c; UCHAR u; SWORD sw; SDWORD sd; STRING s;\n"
    " DWORD n; array FLOAT floats[n]; array STRING names[n]; array UCHAR grid[2][n];\n"
    " [...]\n"
    "}\n"
    "AllTypes sample { <99999999-8888-7777-6666-555544443333>\n"
    " 65535; 4294967295; -1.5; 0.125; -128; 255; -32768; -2147483648; \"hello world\";\n"
    " 3; 0.5, 1.5, 2.5; \"a\", \"bb\", \"\"; 1, 2, 3, 4, 5, 6;\n"
    " Frame inner { FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.25,-3.5,1e3,1.0;; } }\n"
    " { target }\n"
    "}\n"
    "Mesh target {\n"
    " 4; -1.0;-1.0;0.0;, 1.0;-1.0;0.0;, 1.0;1.0;0.0;, -1.0;1.0;0.0;;\n"
    " 2; 3;0,1,2;, 3;0,2,3;;\n"
    " MeshMaterialList { 1; 2; 0, 0;; Material { 0.5;0.25;1.0;1.0;; 8.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;\n"
    "   TextureFilename { \"tex.png\"; } } }\n"
    " MeshTextureCoords { 4; 0.0;0.0;, 1.0;0.0;, 1.0;1.0;, 0.0;1.0;; }\n"
    "}\n";

std::string DescribeOrFail(const std::vector<uint8_t>& bytes) {
    xfile::Document doc;
    std::string reason;
    HRESULT hr = Parse(bytes, doc, &reason);
    if (FAILED(hr)) return "failed: " + reason;
    return xtest::Describe(doc);
}

TEST(XFileForms, EveryFormPacksTheSameData) {
    const std::vector<uint8_t> text = Bytes(kContent);
    const std::string expected = DescribeOrFail(text);
    ASSERT_EQ(expected.find("failed"), std::string::npos) << expected;
    ASSERT_EQ(expected.find("MISMATCH"), std::string::npos) << expected;
    ASSERT_NE(expected.find("\"hello world\""), std::string::npos);

    const auto bin32 = xtest::TextToBinary(kContent, 32);
    const auto bin64 = xtest::TextToBinary(kContent, 64);
    EXPECT_EQ(DescribeOrFail(bin32), expected);
    EXPECT_EQ(DescribeOrFail(bin64), expected);
    EXPECT_EQ(DescribeOrFail(xtest::Compress(text)), expected);
    EXPECT_EQ(DescribeOrFail(xtest::Compress(bin32)), expected);
    EXPECT_EQ(DescribeOrFail(xtest::Compress(bin64)), expected);
    // Small blocks: later blocks refer back into earlier ones.
    EXPECT_EQ(DescribeOrFail(xtest::Compress(text, 97)), expected);
    EXPECT_EQ(DescribeOrFail(xtest::Compress(bin64, 50)), expected);

    xfile::Document doc;
    ASSERT_EQ(Parse(bin64, doc), S_OK);
    EXPECT_EQ(doc.header.encoding, xfile::Encoding::Binary);
    EXPECT_EQ(doc.header.floatSize, 64);
    EXPECT_FALSE(doc.header.compressed);
}

TEST(XFileForms, FloatsKeepTheirPrecisionPerMemberType) {
    // A DOUBLE member keeps a 64-bit file's value; FLOAT members are always
    // 32-bit.
    const char text[] =
        "xof 0303txt 0064\n"
        "template Pair { <11111111-0000-0000-0000-000000000001> FLOAT f; DOUBLE d; }\n"
        "Pair { 0.1; 0.1; }\n";
    xfile::Document doc;
    ASSERT_EQ(Parse(xtest::TextToBinary(text, 64), doc), S_OK);
    const auto& data = doc.objects[0]->data;
    ASSERT_EQ(data.size(), 12u);
    float f;
    double d;
    std::memcpy(&f, data.data(), 4);
    std::memcpy(&d, data.data() + 4, 8);
    EXPECT_EQ(f, 0.1f);
    EXPECT_EQ(d, 0.1);
}

TEST(XFileForms, HeadersAreChecked) {
    struct Case {
        const char* header;
        HRESULT expected;
    } cases[] = {
        {"xof 0302txt 0032", S_OK},
        {"xof 0303bin 0064", S_OK},
        {"xof 0303tzip0032", S_OK},
        {"xof 0303bzip0064", S_OK},
        {"xof 0302txt 003", DXFILEERR_BADFILETYPE},
        {"XOF 0302txt 0032", DXFILEERR_BADFILETYPE},
        {"xof 0201txt 0032", DXFILEERR_BADFILEVERSION},
        {"xof 03a2txt 0032", DXFILEERR_BADFILEVERSION},
        {"xof 0302abc 0032", DXFILEERR_BADFILETYPE},
        {"xof 0302lzip0032", DXFILEERR_BADFILECOMPRESSIONTYPE},
        {"xof 0302txt 0016", DXFILEERR_BADFILEFLOATSIZE},
    };
    xfile::Document withMark;
    EXPECT_EQ(Parse(std::string("\xEF\xBB\xBFxof 0302txt 0032\nVector { 1; 2; 3; }"), withMark), S_OK);
    EXPECT_EQ(withMark.objects.size(), 1u);
    for (const Case& c : cases) {
        xfile::FileHeader h;
        std::string reason;
        EXPECT_EQ(xfile::ReadHeader(reinterpret_cast<const uint8_t*>(c.header), std::strlen(c.header), h, reason),
                  c.expected)
            << c.header;
    }
}

TEST(XFileForms, BrokenCompressedDataFails) {
    const std::vector<uint8_t> good = xtest::Compress(Bytes(kContent), 200);
    ASSERT_EQ(DescribeOrFail(good).find("failed"), std::string::npos);
    auto broken = [&](auto edit) {
        std::vector<uint8_t> b = good;
        edit(b);
        xfile::Document doc;
        return Parse(b, doc);
    };
    // Declared total too small or too large.
    EXPECT_EQ(broken([](auto& b) { b[16] -= 1; }), DXFILEERR_BADFILE);
    EXPECT_EQ(broken([](auto& b) { b[17] += 1; }), DXFILEERR_BADFILE);
    // A block's unpacked size disagrees with its data.
    EXPECT_EQ(broken([](auto& b) { b[20] += 1; }), DXFILEERR_BADFILE);
    // Missing "CK" signature.
    EXPECT_EQ(broken([](auto& b) { b[24] = 'X'; }), DXFILEERR_BADFILE);
    // Packed size past the end of the file.
    EXPECT_EQ(broken([](auto& b) { b[22] = 0xFF, b[23] = 0xFF; }), DXFILEERR_BADFILE);
    // Corrupt deflate data.
    EXPECT_EQ(broken([](auto& b) { b[27] ^= 0xFF, b[28] ^= 0x55; }), DXFILEERR_BADFILE);
    // A block of more than 32 KiB.
    EXPECT_EQ(broken([](auto& b) { b[20] = 0x01, b[21] = 0x81; }), DXFILEERR_BADFILE);
    // Nothing after the size.
    std::vector<uint8_t> empty(good.begin(), good.begin() + 20);
    empty[16] = 16, empty[17] = empty[18] = empty[19] = 0;
    xfile::Document doc;
    EXPECT_EQ(Parse(empty, doc), S_OK);
    EXPECT_TRUE(doc.objects.empty());
}

TEST(XFileForms, BrokenBinaryTokensFail) {
    const auto bin = xtest::TextToBinary(kContent, 32);
    auto withTail = [&](std::vector<uint8_t> tail) {
        std::vector<uint8_t> b(16 + tail.size());
        std::copy(bin.begin(), bin.begin() + 16, b.begin());
        std::copy(tail.begin(), tail.end(), b.begin() + 16);
        xfile::Document doc;
        return Parse(b, doc);
    };
    // Unknown token number.
    EXPECT_EQ(withTail({0x63, 0x00}), DXFILEERR_PARSEERROR);
    // A name longer than the file.
    EXPECT_EQ(withTail({0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 'F'}), DXFILEERR_PARSEERROR);
    // Vector {, then a float list claiming 2^30 floats.
    EXPECT_EQ(withTail({0x01, 0x00, 6, 0, 0, 0, 'V', 'e', 'c', 't', 'o', 'r', 0x0A, 0x00, 0x07, 0x00, 0, 0, 0, 0x40}),
              DXFILEERR_BADARRAYSIZE);
    // A string without its terminator.
    EXPECT_EQ(withTail({0x02, 0x00, 1, 0, 0, 0, 'a'}), DXFILEERR_PARSEERROR);
    // A lone odd byte.
    EXPECT_EQ(withTail({0x0A}), DXFILEERR_PARSEERROR);
}

// Every prefix of every form, each in its own allocation, fails cleanly or
// reads; the sanitizers see any read past the end.
TEST(XFileForms, EveryPrefixIsSafe) {
    const std::vector<uint8_t> text = Bytes(kContent);
    const auto bin = xtest::TextToBinary(kContent, 64);
    for (const auto& file : {text, bin, xtest::Compress(text, 300), xtest::Compress(bin, 300)}) {
        size_t succeeded = 0;
        for (size_t n = 0; n < file.size(); ++n) {
            xfile::Document doc;
            HRESULT hr = Parse(std::vector<uint8_t>(file.begin(), file.begin() + n), doc);
            if (SUCCEEDED(hr)) ++succeeded;
            else EXPECT_EQ(HRESULT_FACILITY(hr), 0x876u) << n;
        }
        xfile::Document whole;
        EXPECT_EQ(Parse(file, whole), S_OK);
        // Only cuts between top-level objects can read.
        EXPECT_LT(succeeded, 40u);
    }
}

}  // namespace

namespace {

// Hand-made binary token streams, for list boundaries the encoder never
// writes.
struct BinaryWriter {
    std::vector<uint8_t> bytes = Bytes("xof 0303bin 0032");
    void Word(uint16_t v) { bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)}); }
    void Dword(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void Name(const std::string& s) {
        Word(1);
        Dword(uint32_t(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void Open() { Word(10); }
    void Close() { Word(11); }
    void Integer(uint32_t v) {
        Word(3);
        Dword(v);
    }
    void Integers(std::initializer_list<uint32_t> values) {
        Word(6);
        Dword(uint32_t(values.size()));
        for (uint32_t v : values) Dword(v);
    }
    void Floats(std::initializer_list<float> values) {
        Word(7);
        Dword(uint32_t(values.size()));
        for (float f : values) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            Dword(bits);
        }
    }
};

}  // namespace

TEST(XFileForms, ListsMayEndAnywhereInAnElement) {
    const std::string expected = DescribeOrFail(Bytes(
        "xof 0303txt 0032\n"
        "Mesh { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;2.0;0.5;; 2; 3;0,1,2;, 4;2,1,0,1;; }\n"
        "Mesh { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;2.0;0.5;; 2; 3;0,1,2;, 4;2,1,0,1;; }\n"));
    ASSERT_EQ(expected.find("failed"), std::string::npos) << expected;

    BinaryWriter w;
    // Vertices split inside the second vector, faces inside the first face
    // and just after the second face's count.
    w.Name("Mesh");
    w.Open();
    w.Integers({3});
    w.Floats({0, 0, 0, 1});
    w.Floats({0, 0, 0, 2, 0.5f});
    w.Integers({2, 3, 0});
    w.Integers({1, 2, 4});
    w.Integers({2, 1, 0, 1});
    w.Close();
    // The same with vertices written as integers (converted one by one) and
    // faces as single integer tokens between lists.
    w.Name("Mesh");
    w.Open();
    w.Integers({3, 0, 0, 0, 1, 0, 0, 0, 2});
    w.Floats({0.5f});
    w.Integer(2);
    w.Integers({3, 0, 1, 2});
    w.Integer(4);
    w.Integers({2, 1, 0, 1});
    w.Close();
    EXPECT_EQ(DescribeOrFail(w.bytes), expected);

    // A list that runs past the object's last value is too long.
    BinaryWriter over;
    over.Name("Mesh");
    over.Open();
    over.Integers({1});
    over.Floats({0, 0, 0});
    over.Integers({1, 3, 0, 0, 0, 7});
    over.Close();
    xfile::Document doc;
    EXPECT_EQ(Parse(over.bytes, doc), DXFILEERR_BADARRAYSIZE);
}
