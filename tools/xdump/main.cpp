// vintrel-xdump: prints the data objects of a ".x" file as the file
// component reads it, with the standard templates registered.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/xfile/document.h"
#include "platform/xfile/dxfile.h"
#include "platform/xfile/templates.h"

namespace {

const char kHelp[] =
    "usage: vintrel-xdump FILE.x\n"
    "Reads a text, binary or compressed .x file with the standard templates\n"
    "registered and prints:\n"
    "  format=text|binary|tzip|bzip floatsize=32|64\n"
    "  <TemplateName> name=<name|-> size=<packed bytes> children=<n>\n"
    "      one line per data object, indented two spaces per level;\n"
    "      a reference prints as: ref -> <name or guid>\n"
    "  objects=<data objects> references=<references>\n"
    "A file that cannot be read prints error=0x<code> <reason> and exits with 1.\n";

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

void Print(const xfile::Node& n, int level) {
    std::string indent(static_cast<size_t>(level) * 2, ' ');
    if (n.kind == xfile::Node::Kind::Reference) {
        std::printf("%sref -> %s\n", indent.c_str(), n.name.empty() ? GuidText(n.guid).c_str() : n.name.c_str());
        return;
    }
    std::printf("%s%s name=%s size=%zu children=%zu\n", indent.c_str(), n.type->name.c_str(),
                n.name.empty() ? "-" : n.name.c_str(), n.data.size(), n.children.size());
    for (const auto& c : n.children) Print(*c, level + 1);
}

int Fail(HRESULT hr, const std::string& reason) {
    std::printf("error=0x%08X %s\n", static_cast<unsigned>(hr), reason.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc != 2) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) return Fail(DXFILEERR_FILENOTFOUND, std::string("cannot open ") + argv[1]);
    // A folder opens but fails its first read; that is no file either. A
    // device or pipe may never end: reading stops past the largest file
    // the component reads from disk.
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (size_t n; bytes.size() <= xfile::kMaxFileSize && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const int readError = std::ferror(in) ? errno : 0;
    std::fclose(in);
    if (readError)
        return Fail(DXFILEERR_FILENOTFOUND, std::string("cannot read ") + argv[1] + ": " + std::strerror(readError));
    if (bytes.size() > xfile::kMaxFileSize) return Fail(DXFILEERR_BADFILE, std::string(argv[1]) + " is larger than 1 GiB");

    xfile::TemplateSet templates;
    const char* blocks[] = {XTEMPLATES_STANDARD, XTEMPLATES_SKIN_EFFECT, XTEMPLATES_EXTENDED};
    for (const char* block : blocks) {
        xfile::Document doc;
        std::string reason;
        HRESULT hr = xfile::ParseFile(reinterpret_cast<const uint8_t*>(block), std::strlen(block), templates, doc, reason);
        if (FAILED(hr)) return Fail(hr, "built-in templates: " + reason);
        templates = std::move(doc.templates);
    }

    xfile::Document doc;
    std::string reason;
    HRESULT hr = xfile::ParseFile(bytes.data(), bytes.size(), templates, doc, reason);
    if (FAILED(hr)) return Fail(hr, reason);
    const char* format = doc.header.compressed ? (doc.header.encoding == xfile::Encoding::Text ? "tzip" : "bzip")
                                               : (doc.header.encoding == xfile::Encoding::Text ? "text" : "binary");
    std::printf("format=%s floatsize=%d\n", format, doc.header.floatSize);
    for (const auto& n : doc.objects) Print(*n, 0);
    std::printf("objects=%zu references=%zu\n", doc.dataObjects, doc.references);
    // The dump is the product: a full disk must not pass as success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vintrel-xdump: cannot write the output\n");
        return 1;
    }
    return 0;
}
