#include "platform/xfile/lexer.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstring>

#include "platform/xfile/dxfile.h"

namespace xfile {
namespace {

// Token numbers of the binary encoding.
enum : uint32_t {
    kTokName = 1,
    kTokString = 2,
    kTokInteger = 3,
    kTokGuid = 5,
    kTokIntegerList = 6,
    kTokFloatList = 7,
    kTokOBrace = 10,
    kTokCBrace = 11,
    kTokOParen = 12,
    kTokCParen = 13,
    kTokOBracket = 14,
    kTokCBracket = 15,
    kTokOAngle = 16,
    kTokCAngle = 17,
    kTokDot = 18,
    kTokComma = 19,
    kTokSemicolon = 20,
    kTokTemplate = 31,
    kTokWord = 40,
    kTokDword = 41,
    kTokFloat = 42,
    kTokDouble = 43,
    kTokChar = 44,
    kTokUchar = 45,
    kTokSword = 46,
    kTokSdword = 47,
    kTokVoid = 48,
    kTokLpstr = 49,
    kTokUnicode = 50,
    kTokCstring = 51,
    kTokArray = 52,
};

struct Keyword {
    const char* text;
    Tok kind;
};
// Text keywords, matched without regard to case. BYTE and STRING are the
// text spellings of UCHAR and LPSTR.
constexpr Keyword kKeywords[] = {
    {"template", Tok::Template}, {"WORD", Tok::Word},     {"DWORD", Tok::Dword},
    {"FLOAT", Tok::FloatType},   {"DOUBLE", Tok::DoubleType}, {"CHAR", Tok::Char},
    {"UCHAR", Tok::Uchar},       {"BYTE", Tok::Uchar},    {"SWORD", Tok::Sword},
    {"SDWORD", Tok::Sdword},     {"VOID", Tok::Void},     {"STRING", Tok::Lpstr},
    {"LPSTR", Tok::Lpstr},       {"UNICODE", Tok::Unicode}, {"CSTRING", Tok::Cstring},
    {"array", Tok::Array},
};

bool EqualNoCase(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Bytes that make up words and numbers: ASCII letters and digits, "_-+."
// and every byte of 0x80 and above.
constexpr auto kWordBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                   c == '-' || c == '+' || c == '.' || c >= 0x80;
    }
    return table;
}();

bool IsWordByte(uint8_t c) { return kWordBytes[c]; }

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint32_t U16(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | (U16(p + 2) << 16); }

// Classifies a word that looks numeric; false when it is not a number.
bool ParseNumber(std::string_view word, Tok& kind, int64_t& integer, double& real) {
    std::string_view w = word;
    if (!w.empty() && w[0] == '+') w.remove_prefix(1);
    if (w.empty()) return false;
    const char* first = w.data();
    const char* last = w.data() + w.size();
    bool integral = true;
    for (size_t i = (w[0] == '-' ? 1 : 0); i < w.size(); ++i)
        if (!IsDigit(static_cast<uint8_t>(w[i]))) {
            integral = false;
            break;
        }
    if (integral && w.size() > (w[0] == '-' ? 1u : 0u)) {
        int64_t v = 0;
        auto [p, ec] = std::from_chars(first, last, v);
        if (ec == std::errc() && p == last) {
            kind = Tok::Integer;
            integer = v;
            real = static_cast<double>(v);
            return true;
        }
    }
    double d = 0;
    auto [p, ec] = std::from_chars(first, last, d, std::chars_format::general);
    if (ec != std::errc() || p != last) return false;
    kind = Tok::Float;
    real = d;
    return true;
}

// Whether a word is to be read as a number (when it parses as one).
bool LooksNumeric(std::string_view word) {
    const uint8_t first = static_cast<uint8_t>(word[0]);
    return IsDigit(first) || ((first == '-' || first == '+' || first == '.') && word.size() > 1 &&
                              (IsDigit(static_cast<uint8_t>(word[1])) || word[1] == '.'));
}

}  // namespace

bool ParseGuidText(std::string_view text, GUID& guid) {
    // 8-4-4-4-12 hexadecimal digits.
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return false;
    uint8_t bytes[16];
    size_t b = 0;
    for (size_t i = 0; i < 36;) {
        if (text[i] == '-') {
            ++i;
            continue;
        }
        int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[b++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    guid.Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | bytes[3];
    guid.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return true;
}

Lexer::Lexer(const uint8_t* data, size_t size, Encoding encoding, int floatSize)
    : data_(data), size_(size), encoding_(encoding), floatSize_(floatSize) {}

std::string Lexer::Where(size_t offset) const {
    if (encoding_ == Encoding::Binary) return "byte " + std::to_string(offset + kHeaderSize);
    size_t line = 1;
    for (size_t i = 0; i < offset && i < size_; ++i)
        if (data_[i] == '\n') ++line;
    return "line " + std::to_string(line);
}

HRESULT Lexer::Fail(HRESULT code, size_t offset, const std::string& what) {
    if (reason_.empty()) reason_ = what + " at " + Where(offset);
    return code;
}

HRESULT Lexer::Next(Token& token) {
    if (peeked_) {
        peeked_ = false;
        token = peek_;
        return peekStatus_;
    }
    return Read(token);
}

HRESULT Lexer::Peek(const Token*& token) {
    if (!peeked_) {
        peekStatus_ = Read(peek_);
        peeked_ = true;
    }
    token = &peek_;
    return peekStatus_;
}

bool Lexer::NextNumber(Number& number) {
    if (peeked_ || encoding_ != Encoding::Text) return false;
    for (;;) {
        while (pos_ < size_ && (data_[pos_] <= ' ' || data_[pos_] == 0x7F)) ++pos_;
        if (pos_ >= size_) return false;
        const uint8_t c = data_[pos_];
        if (c == ',' || c == ';') {
            ++pos_;
            continue;
        }
        if (c == '#' || (c == '/' && size_ - pos_ >= 2 && data_[pos_ + 1] == '/')) {
            while (pos_ < size_ && data_[pos_] != '\n') ++pos_;
            continue;
        }
        break;
    }
    const size_t start = pos_;
    size_t end = start;
    while (end < size_ && IsWordByte(data_[end])) ++end;
    if (end == start) return false;
    const std::string_view word(reinterpret_cast<const char*>(data_ + start), end - start);
    if (word.find_first_not_of('.') == std::string_view::npos || !LooksNumeric(word)) return false;
    Tok kind = Tok::End;
    if (!ParseNumber(word, kind, number.integer, number.real)) return false;
    number.integral = kind == Tok::Integer;
    number.offset = start;
    pos_ = end;
    return true;
}

HRESULT Lexer::Read(Token& token) {
    token = Token{};
    return encoding_ == Encoding::Text ? ReadText(token) : ReadBinary(token);
}

HRESULT Lexer::ReadText(Token& token) {
    for (;;) {
        while (pos_ < size_ && (data_[pos_] <= ' ' || data_[pos_] == 0x7F)) ++pos_;
        if (pos_ >= size_) {
            token.kind = Tok::End;
            token.offset = size_;
            return S_OK;
        }
        const uint8_t c = data_[pos_];
        if (c == '#' || (c == '/' && size_ - pos_ >= 2 && data_[pos_ + 1] == '/')) {
            while (pos_ < size_ && data_[pos_] != '\n') ++pos_;
            continue;
        }
        break;
    }
    token.offset = pos_;
    const uint8_t c = data_[pos_];
    switch (c) {
        case '{': token.kind = Tok::OBrace; ++pos_; return S_OK;
        case '}': token.kind = Tok::CBrace; ++pos_; return S_OK;
        case '[': token.kind = Tok::OBracket; ++pos_; return S_OK;
        case ']': token.kind = Tok::CBracket; ++pos_; return S_OK;
        case '(': token.kind = Tok::OParen; ++pos_; return S_OK;
        case ')': token.kind = Tok::CParen; ++pos_; return S_OK;
        case ',': token.kind = Tok::Comma; ++pos_; return S_OK;
        case ';': token.kind = Tok::Semicolon; ++pos_; return S_OK;
        default: break;
    }
    if (c == '"') {
        size_t start = ++pos_;
        while (pos_ < size_ && data_[pos_] != '"') ++pos_;
        if (pos_ >= size_) return Fail(DXFILEERR_PARSEERROR, token.offset, "unterminated string");
        token.kind = Tok::String;
        token.text = std::string_view(reinterpret_cast<const char*>(data_ + start), pos_ - start);
        ++pos_;
        return S_OK;
    }
    if (c == '<') {
        size_t start = ++pos_;
        while (pos_ < size_ && data_[pos_] != '>' && pos_ - start < 64) ++pos_;
        if (pos_ >= size_ || data_[pos_] != '>') return Fail(DXFILEERR_PARSEERROR, token.offset, "bad GUID");
        std::string_view inside(reinterpret_cast<const char*>(data_ + start), pos_ - start);
        ++pos_;
        while (!inside.empty() && static_cast<unsigned char>(inside.front()) <= ' ') inside.remove_prefix(1);
        while (!inside.empty() && static_cast<unsigned char>(inside.back()) <= ' ') inside.remove_suffix(1);
        if (!ParseGuidText(inside, token.guid)) return Fail(DXFILEERR_PARSEERROR, token.offset, "bad GUID");
        token.kind = Tok::Guid;
        return S_OK;
    }
    if (!IsWordByte(c)) return Fail(DXFILEERR_PARSEERROR, token.offset, "unexpected character");
    size_t start = pos_;
    while (pos_ < size_ && IsWordByte(data_[pos_])) ++pos_;
    std::string_view word(reinterpret_cast<const char*>(data_ + start), pos_ - start);
    token.text = word;
    if (word.find_first_not_of('.') == std::string_view::npos) {
        if (word.size() == 1) token.kind = Tok::Dot;
        else if (word.size() == 3) token.kind = Tok::Ellipsis;
        else return Fail(DXFILEERR_PARSEERROR, token.offset, "unexpected dots");
        return S_OK;
    }
    if (LooksNumeric(word) && ParseNumber(word, token.kind, token.integer, token.real)) return S_OK;
    for (const Keyword& k : kKeywords)
        if (EqualNoCase(word, k.text)) {
            token.kind = k.kind;
            return S_OK;
        }
    token.kind = Tok::Name;
    return S_OK;
}

HRESULT Lexer::ReadBinary(Token& token) {
    token.offset = pos_;
    if (size_ - pos_ < 2) {
        if (pos_ < size_) return Fail(DXFILEERR_PARSEERROR, pos_, "truncated token");
        token.kind = Tok::End;
        return S_OK;
    }
    const uint32_t id = U16(data_ + pos_);
    pos_ += 2;
    auto need = [&](uint64_t n) { return uint64_t(size_ - pos_) >= n; };
    switch (id) {
        case kTokName:
        case kTokString: {
            if (!need(4)) return Fail(DXFILEERR_PARSEERROR, token.offset, "truncated name");
            const uint32_t n = U32(data_ + pos_);
            pos_ += 4;
            if (!need(n)) return Fail(DXFILEERR_PARSEERROR, token.offset, "name longer than the file");
            token.text = std::string_view(reinterpret_cast<const char*>(data_ + pos_), n);
            pos_ += n;
            token.kind = id == kTokName ? Tok::Name : Tok::String;
            if (id == kTokString) {
                // A string carries its terminator: ';' or ',' as a WORD,
                // usually widened to a DWORD.
                if (!need(2)) return Fail(DXFILEERR_PARSEERROR, token.offset, "unterminated string");
                const uint32_t term = U16(data_ + pos_);
                if (term != kTokSemicolon && term != kTokComma)
                    return Fail(DXFILEERR_PARSEERROR, token.offset, "unterminated string");
                pos_ += 2;
                if (need(2) && U16(data_ + pos_) == 0) pos_ += 2;
            }
            return S_OK;
        }
        case kTokInteger:
            if (!need(4)) return Fail(DXFILEERR_PARSEERROR, token.offset, "truncated integer");
            token.kind = Tok::Integer;
            token.integer = U32(data_ + pos_);
            token.real = static_cast<double>(token.integer);
            pos_ += 4;
            return S_OK;
        case kTokGuid:
            if (!need(16)) return Fail(DXFILEERR_PARSEERROR, token.offset, "truncated GUID");
            token.kind = Tok::Guid;
            token.guid.Data1 = U32(data_ + pos_);
            token.guid.Data2 = static_cast<WORD>(U16(data_ + pos_ + 4));
            token.guid.Data3 = static_cast<WORD>(U16(data_ + pos_ + 6));
            std::memcpy(token.guid.Data4, data_ + pos_ + 8, 8);
            pos_ += 16;
            return S_OK;
        case kTokIntegerList:
        case kTokFloatList: {
            if (!need(4)) return Fail(DXFILEERR_PARSEERROR, token.offset, "truncated list");
            const uint32_t n = U32(data_ + pos_);
            pos_ += 4;
            const uint64_t item = id == kTokIntegerList ? 4 : uint64_t(floatSize_ / 8);
            if (!need(n * item)) return Fail(DXFILEERR_BADARRAYSIZE, token.offset, "list longer than the file");
            token.kind = id == kTokIntegerList ? Tok::IntegerList : Tok::FloatList;
            token.count = n;
            token.list = data_ + pos_;
            pos_ += static_cast<size_t>(n * item);
            return S_OK;
        }
        case kTokOBrace: token.kind = Tok::OBrace; return S_OK;
        case kTokCBrace: token.kind = Tok::CBrace; return S_OK;
        case kTokOParen: token.kind = Tok::OParen; return S_OK;
        case kTokCParen: token.kind = Tok::CParen; return S_OK;
        case kTokOBracket: token.kind = Tok::OBracket; return S_OK;
        case kTokCBracket: token.kind = Tok::CBracket; return S_OK;
        case kTokOAngle: token.kind = Tok::OAngle; return S_OK;
        case kTokCAngle: token.kind = Tok::CAngle; return S_OK;
        case kTokDot: token.kind = Tok::Dot; return S_OK;
        case kTokComma: token.kind = Tok::Comma; return S_OK;
        case kTokSemicolon: token.kind = Tok::Semicolon; return S_OK;
        case kTokTemplate: token.kind = Tok::Template; token.text = "template"; return S_OK;
        case kTokWord: token.kind = Tok::Word; token.text = "WORD"; return S_OK;
        case kTokDword: token.kind = Tok::Dword; token.text = "DWORD"; return S_OK;
        case kTokFloat: token.kind = Tok::FloatType; token.text = "FLOAT"; return S_OK;
        case kTokDouble: token.kind = Tok::DoubleType; token.text = "DOUBLE"; return S_OK;
        case kTokChar: token.kind = Tok::Char; token.text = "CHAR"; return S_OK;
        case kTokUchar: token.kind = Tok::Uchar; token.text = "UCHAR"; return S_OK;
        case kTokSword: token.kind = Tok::Sword; token.text = "SWORD"; return S_OK;
        case kTokSdword: token.kind = Tok::Sdword; token.text = "SDWORD"; return S_OK;
        case kTokVoid: token.kind = Tok::Void; token.text = "VOID"; return S_OK;
        case kTokLpstr: token.kind = Tok::Lpstr; token.text = "STRING"; return S_OK;
        case kTokUnicode: token.kind = Tok::Unicode; token.text = "UNICODE"; return S_OK;
        case kTokCstring: token.kind = Tok::Cstring; token.text = "CSTRING"; return S_OK;
        case kTokArray: token.kind = Tok::Array; token.text = "array"; return S_OK;
        default: return Fail(DXFILEERR_PARSEERROR, token.offset, "unknown token " + std::to_string(id));
    }
}

}  // namespace xfile
