#include "x_test_util.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/xfile/templates.h"

namespace xtest {
namespace {

struct Cursor {
    const uint8_t* p;
    size_t left;
    bool ok = true;
    template <class T>
    T Take() {
        T v{};
        if (left < sizeof(T)) {
            ok = false;
            return v;
        }
        std::memcpy(&v, p, sizeof(T));
        p += sizeof(T), left -= sizeof(T);
        return v;
    }
};

uint64_t DescribeValue(xfile::Primitive prim, Cursor& c, std::string& out) {
    char text[64];
    uint64_t asCount = 0;
    switch (prim) {
        case xfile::Primitive::Word: asCount = c.Take<uint16_t>(); std::snprintf(text, sizeof text, "%llu", (unsigned long long)asCount); break;
        case xfile::Primitive::Sword: { int16_t v = c.Take<int16_t>(); asCount = uint16_t(v); std::snprintf(text, sizeof text, "%d", v); break; }
        case xfile::Primitive::Dword: asCount = c.Take<uint32_t>(); std::snprintf(text, sizeof text, "%llu", (unsigned long long)asCount); break;
        case xfile::Primitive::Sdword: { int32_t v = c.Take<int32_t>(); asCount = uint32_t(v); std::snprintf(text, sizeof text, "%d", v); break; }
        case xfile::Primitive::Char: { int8_t v = c.Take<int8_t>(); asCount = uint8_t(v); std::snprintf(text, sizeof text, "%d", v); break; }
        case xfile::Primitive::Uchar: asCount = c.Take<uint8_t>(); std::snprintf(text, sizeof text, "%llu", (unsigned long long)asCount); break;
        case xfile::Primitive::Float: std::snprintf(text, sizeof text, "%.9g", double(c.Take<float>())); break;
        case xfile::Primitive::Double: std::snprintf(text, sizeof text, "%.17g", c.Take<double>()); break;
        case xfile::Primitive::String: {
            const char* s = c.Take<const char*>();
            if (s) {
                out.push_back('"');
                out.append(s);
                out.append("\" ");
            } else {
                out.append("null ");
            }
            return 0;
        }
        case xfile::Primitive::None: break;
    }
    out += text;
    out += ' ';
    return asCount;
}

void DescribeStruct(const xfile::Template& t, Cursor& c, std::string& out) {
    std::vector<uint64_t> values(t.members.size(), 0);
    out += "{ ";
    for (size_t i = 0; i < t.members.size() && c.ok; ++i) {
        const xfile::Member& m = t.members[i];
        uint64_t count = 1;
        if (m.isArray) {
            for (const xfile::Dimension& d : m.dimensions) count *= d.member >= 0 ? values[d.member] : d.constant;
            out += "[ ";
        }
        for (uint64_t k = 0; k < count && c.ok; ++k) {
            if (m.primitive != xfile::Primitive::None) values[i] = DescribeValue(m.primitive, c, out);
            else DescribeStruct(*m.type, c, out);
        }
        if (m.isArray) out += "] ";
    }
    out += "} ";
}

void DescribeNode(const xfile::Node& n, int level, std::string& out) {
    out.append(size_t(level) * 2, ' ');
    if (n.kind == xfile::Node::Kind::Reference) {
        out += "ref " + n.name + (n.target ? " -> " + n.target->type->name + " " + n.target->name : " (unresolved)") + "\n";
        return;
    }
    char id[48] = "";
    if (n.hasGuid)
        std::snprintf(id, sizeof id, " <%08X-%04X-%02X%02X>", n.guid.Data1, n.guid.Data2, n.guid.Data4[0], n.guid.Data4[7]);
    out += n.type->name + " " + (n.name.empty() ? "-" : n.name) + id + " ";
    Cursor c{n.data.data(), n.data.size()};
    DescribeStruct(*n.type, c, out);
    if (!c.ok || c.left != 0) out += "LAYOUT MISMATCH";
    out += "\n";
    for (const auto& child : n.children) DescribeNode(*child, level + 1, out);
}

}  // namespace

const xfile::TemplateSet& StandardTemplates() {
    static const xfile::TemplateSet set = [] {
        xfile::TemplateSet s;
        for (const char* block : {XTEMPLATES_STANDARD, XTEMPLATES_SKIN_EFFECT, XTEMPLATES_EXTENDED}) {
            xfile::Document doc;
            std::string reason;
            if (FAILED(xfile::ParseFile(reinterpret_cast<const uint8_t*>(block), std::strlen(block), s, doc, reason)))
                throw std::runtime_error("standard templates: " + reason);
            s = std::move(doc.templates);
        }
        return s;
    }();
    return set;
}

HRESULT Parse(const std::vector<uint8_t>& bytes, xfile::Document& doc, std::string* reason) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    std::string why;
    HRESULT hr = xfile::ParseFile(exact.get(), bytes.size(), StandardTemplates(), doc, why);
    if (reason) *reason = why;
    return hr;
}

HRESULT Parse(std::string_view text, xfile::Document& doc, std::string* reason) {
    return Parse(std::vector<uint8_t>(text.begin(), text.end()), doc, reason);
}

std::string Describe(const xfile::Node& node) {
    std::string out;
    DescribeNode(node, 0, out);
    return out;
}

std::string Describe(const xfile::Document& doc) {
    std::string out;
    for (const auto& n : doc.objects) DescribeNode(*n, 0, out);
    return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace xtest
