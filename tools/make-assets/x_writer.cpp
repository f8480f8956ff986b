#include "x_writer.h"

#include <cstdio>

#include "image_writers.h"

namespace assets {

namespace {
class Text {
public:
    void Line(int indent, const std::string& s) {
        out_.append(size_t(indent) * 1, ' ');
        out_ += s;
        out_ += '\n';
    }
    void Raw(const std::string& s) { out_ += s; }
    std::string& str() { return out_; }

private:
    std::string out_;
};

std::string F(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", double(v) == 0.0 ? 0.0 : double(v));
    return buf;
}

// An array of records, one a line: "item;," and "item;;" for the last.
template <class Each>
void Records(Text& t, int indent, size_t count, Each each) {
    for (size_t i = 0; i < count; ++i) t.Line(indent, each(i) + (i + 1 < count ? "," : ";"));
}

std::string Face(const std::vector<uint32_t>& f) {
    std::string s = std::to_string(f.size()) + ";";
    for (size_t i = 0; i < f.size(); ++i) {
        if (i) s += ',';
        s += std::to_string(f[i]);
    }
    return s + ";";
}

void WriteMesh(Text& t, int in, const XMesh& m) {
    t.Line(in, "Mesh " + m.name + " {");
    t.Line(in + 1, std::to_string(m.positions.size()) + ";");
    Records(t, in + 1, m.positions.size(), [&](size_t i) {
        return F(m.positions[i].x) + ";" + F(m.positions[i].y) + ";" + F(m.positions[i].z) + ";";
    });
    t.Line(in + 1, std::to_string(m.faces.size()) + ";");
    Records(t, in + 1, m.faces.size(), [&](size_t i) { return Face(m.faces[i]); });
    if (!m.normals.empty()) {
        t.Line(in + 1, "MeshNormals {");
        t.Line(in + 2, std::to_string(m.normals.size()) + ";");
        Records(t, in + 2, m.normals.size(), [&](size_t i) {
            return F(m.normals[i].x) + ";" + F(m.normals[i].y) + ";" + F(m.normals[i].z) + ";";
        });
        t.Line(in + 2, std::to_string(m.normalFaces.size()) + ";");
        Records(t, in + 2, m.normalFaces.size(), [&](size_t i) { return Face(m.normalFaces[i]); });
        t.Line(in + 1, "}");
    }
    if (!m.uvs.empty()) {
        t.Line(in + 1, "MeshTextureCoords {");
        t.Line(in + 2, std::to_string(m.uvs.size()) + ";");
        Records(t, in + 2, m.uvs.size(),
                [&](size_t i) { return F(m.uvs[i].x) + ";" + F(m.uvs[i].y) + ";"; });
        t.Line(in + 1, "}");
    }
    if (!m.materials.empty()) {
        t.Line(in + 1, "MeshMaterialList {");
        t.Line(in + 2, std::to_string(m.materials.size()) + ";");
        t.Line(in + 2, std::to_string(m.faceMaterials.size()) + ";");
        // Many indices a line keeps big meshes compact.
        std::string line;
        for (size_t i = 0; i < m.faceMaterials.size(); ++i) {
            line += std::to_string(m.faceMaterials[i]);
            line += i + 1 < m.faceMaterials.size() ? "," : ";";
            if (line.size() > 100 || i + 1 == m.faceMaterials.size()) {
                t.Line(in + 2, line);
                line.clear();
            }
        }
        for (const std::string& name : m.materials) t.Line(in + 2, "{" + name + "}");
        t.Line(in + 1, "}");
    }
    t.Line(in, "}");
}

void WriteFrame(Text& t, int in, const XFrame& f) {
    t.Line(in, "Frame " + f.name + " {");
    t.Line(in + 1, "FrameTransformMatrix {");
    std::string m;
    for (int i = 0; i < 16; ++i) m += F(f.transform[i]) + (i < 15 ? "," : ";;");
    t.Line(in + 2, m);
    t.Line(in + 1, "}");
    for (const XMesh& mesh : f.meshes) WriteMesh(t, in + 1, mesh);
    for (const XFrame& child : f.children) WriteFrame(t, in + 1, child);
    t.Line(in, "}");
}
}  // namespace

std::string FormatXText(const XFile& file) {
    Text t;
    t.Raw("xof 0303txt 0032\n");
    t.Line(0, "// Written by the Vintrel data-set generator.");
    t.Line(0, "");
    for (const XMaterial& mat : file.materials) {
        t.Line(0, "Material " + mat.name + " {");
        t.Line(1, F(mat.diffuse[0]) + ";" + F(mat.diffuse[1]) + ";" + F(mat.diffuse[2]) + ";" +
                      F(mat.diffuse[3]) + ";;");
        t.Line(1, F(mat.power) + ";");
        t.Line(1, F(mat.specular[0]) + ";" + F(mat.specular[1]) + ";" + F(mat.specular[2]) + ";;");
        t.Line(1, F(mat.emissive[0]) + ";" + F(mat.emissive[1]) + ";" + F(mat.emissive[2]) + ";;");
        if (!mat.texture.empty()) t.Line(1, "TextureFilename { \"" + mat.texture + "\"; }");
        t.Line(0, "}");
    }
    for (const XFrame& f : file.frames) WriteFrame(t, 0, f);
    return std::move(t.str());
}

bool WriteXFile(const std::string& path, const XFile& file) {
    std::string text = FormatXText(file);
    return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace assets
