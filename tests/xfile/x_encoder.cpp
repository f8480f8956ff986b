#include "x_encoder.h"

#include <zlib.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace xtest {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

int Hex(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

struct Keyword {
    const char* word;
    uint32_t token;
};
const Keyword kKeywords[] = {{"template", 31}, {"WORD", 40},  {"DWORD", 41},   {"FLOAT", 42},   {"DOUBLE", 43},
                             {"CHAR", 44},     {"UCHAR", 45}, {"BYTE", 45},    {"SWORD", 46},   {"SDWORD", 47},
                             {"VOID", 48},     {"STRING", 49}, {"LPSTR", 49},  {"UNICODE", 50}, {"CSTRING", 51},
                             {"array", 52}};

uint32_t KeywordToken(const std::string& w) {
    for (const Keyword& k : kKeywords)
        if (strcasecmp(w.c_str(), k.word) == 0) return k.token;
    return 0;
}

class Writer {
public:
    Writer(int floatSize) : floatSize_(floatSize) {}

    void Number(const std::string& word) {
        const bool real = word.find_first_of(".eE") != std::string::npos;
        if (inTemplate_) {
            Flush();
            Put16(out_, 3);
            Put32(out_, static_cast<uint32_t>(std::strtoll(word.c_str(), nullptr, 10)));
            return;
        }
        if (!values_.empty() && real != real_) Flush();
        real_ = real;
        values_.push_back(word);
    }
    void Flush() {
        if (values_.empty()) return;
        Put16(out_, real_ ? 7 : 6);
        Put32(out_, static_cast<uint32_t>(values_.size()));
        for (const std::string& v : values_) {
            if (!real_) {
                Put32(out_, static_cast<uint32_t>(std::strtoll(v.c_str(), nullptr, 10)));
            } else if (floatSize_ == 64) {
                double d = std::strtod(v.c_str(), nullptr);
                uint64_t bits;
                std::memcpy(&bits, &d, 8);
                Put32(out_, static_cast<uint32_t>(bits));
                Put32(out_, static_cast<uint32_t>(bits >> 32));
            } else {
                float f = static_cast<float>(std::strtod(v.c_str(), nullptr));
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                Put32(out_, bits);
            }
        }
        values_.clear();
    }
    void Token(uint32_t t) {
        Flush();
        Put16(out_, t);
    }
    // Separators between numbers vanish into the lists.
    void Separator(uint32_t t) {
        if (!values_.empty()) return;
        Token(t);
    }
    void Name(const std::string& name) {
        Token(1);
        Put32(out_, static_cast<uint32_t>(name.size()));
        out_.insert(out_.end(), name.begin(), name.end());
    }
    void String(const std::string& s, uint32_t terminator) {
        Token(2);
        Put32(out_, static_cast<uint32_t>(s.size()));
        out_.insert(out_.end(), s.begin(), s.end());
        Put32(out_, terminator);
    }
    void Guid(const std::string& text) {
        uint8_t b[16];
        size_t n = 0;
        for (size_t i = 0; i + 1 < text.size() && n < 16;) {
            if (text[i] == '-') {
                ++i;
                continue;
            }
            b[n++] = static_cast<uint8_t>(Hex(text[i]) * 16 + Hex(text[i + 1]));
            i += 2;
        }
        if (n != 16) throw std::runtime_error("bad GUID " + text);
        Token(5);
        Put32(out_, (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3]);
        Put16(out_, (uint32_t(b[4]) << 8) | b[5]);
        Put16(out_, (uint32_t(b[6]) << 8) | b[7]);
        out_.insert(out_.end(), b + 8, b + 16);
    }

    std::vector<uint8_t> out_;
    bool inTemplate_ = false;
    int templateBraces_ = 0;

private:
    int floatSize_;
    bool real_ = false;
    std::vector<std::string> values_;
};

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '+' || c == '.' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool LooksNumeric(const std::string& w) {
    size_t i = (w[0] == '-' || w[0] == '+') ? 1 : 0;
    if (i >= w.size()) return false;
    if (!std::isdigit(static_cast<unsigned char>(w[i])) && w[i] != '.') return false;
    char* end = nullptr;
    std::strtod(w.c_str(), &end);
    return *end == '\0';
}

}  // namespace

std::vector<uint8_t> TextToBinary(std::string_view text, int floatSize) {
    if (text.size() < 16) throw std::runtime_error("no header");
    Writer w(floatSize);
    std::string header(text.substr(0, 16));
    header.replace(8, 4, "bin ");
    header.replace(12, 4, floatSize == 64 ? "0064" : "0032");
    w.out_.assign(header.begin(), header.end());
    size_t i = 16;
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (c == '{') {
            w.Token(10);
            if (w.inTemplate_) ++w.templateBraces_;
            ++i;
        } else if (c == '}') {
            w.Token(11);
            if (w.inTemplate_ && --w.templateBraces_ == 0) w.inTemplate_ = false;
            ++i;
        } else if (c == '[') {
            w.Token(14), ++i;
        } else if (c == ']') {
            w.Token(15), ++i;
        } else if (c == ',') {
            w.Separator(19), ++i;
        } else if (c == ';') {
            w.Separator(20), ++i;
        } else if (c == '"') {
            size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos) throw std::runtime_error("unterminated string");
            std::string s(text.substr(i + 1, end - i - 1));
            i = end + 1;
            // The separator after a string travels with it.
            size_t j = i;
            while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
            uint32_t terminator = 20;
            if (j < text.size() && (text[j] == ';' || text[j] == ',')) {
                terminator = text[j] == ';' ? 20 : 19;
                i = j + 1;
            }
            w.String(s, terminator);
        } else if (c == '<') {
            size_t end = text.find('>', i);
            std::string inside(text.substr(i + 1, end - i - 1));
            while (!inside.empty() && std::isspace(static_cast<unsigned char>(inside.front()))) inside.erase(0, 1);
            while (!inside.empty() && std::isspace(static_cast<unsigned char>(inside.back()))) inside.pop_back();
            w.Guid(inside);
            i = end + 1;
        } else if (IsWordChar(c)) {
            size_t start = i;
            while (i < text.size() && IsWordChar(text[i])) ++i;
            std::string word(text.substr(start, i - start));
            if (word == "...") {
                w.Token(18), w.Token(18), w.Token(18);
            } else if (LooksNumeric(word)) {
                w.Number(word);
            } else if (uint32_t k = KeywordToken(word)) {
                w.Token(k);
                if (k == 31) {
                    w.inTemplate_ = true;
                    w.templateBraces_ = 0;
                }
            } else {
                w.Name(word);
            }
        } else {
            throw std::runtime_error(std::string("unexpected character ") + c);
        }
    }
    w.Flush();
    return w.out_;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& file, size_t blockSize) {
    if (file.size() < 16 || blockSize == 0 || blockSize > 32768) throw std::runtime_error("bad input");
    std::vector<uint8_t> out(file.begin(), file.begin() + 16);
    std::memcpy(out.data() + 8, std::memcmp(file.data() + 8, "bin ", 4) == 0 ? "bzip" : "tzip", 4);
    Put32(out, static_cast<uint32_t>(file.size()));
    size_t pos = 16;
    while (pos < file.size()) {
        const size_t n = std::min(blockSize, file.size() - pos);
        z_stream z{};
        if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("deflateInit2");
        const size_t dict = std::min<size_t>(pos - 16, 32768);
        if (dict) deflateSetDictionary(&z, file.data() + pos - dict, static_cast<uInt>(dict));
        std::vector<uint8_t> packed(deflateBound(&z, static_cast<uLong>(n)) + 16);
        z.next_in = const_cast<Bytef*>(file.data() + pos);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
        packed.resize(z.total_out);
        deflateEnd(&z);
        if (packed.size() + 2 > 0xFFFF) throw std::runtime_error("block too large");
        Put16(out, static_cast<uint32_t>(n));
        Put16(out, static_cast<uint32_t>(packed.size() + 2));
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.end());
        pos += n;
    }
    return out;
}

}  // namespace xtest
