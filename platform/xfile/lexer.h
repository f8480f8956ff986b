// Tokens of ".x" files, from either encoding. The text form is split into
// words, numbers, strings, GUIDs and punctuation; the binary form is a
// stream of little-endian tokens whose numbers come in integer and float
// lists. The parser sees one kind of token either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32/types.h"
#include "platform/xfile/format.h"

namespace xfile {

enum class Tok : uint8_t {
    End,
    Name,
    String,
    Integer,
    Float,
    Guid,
    IntegerList,
    FloatList,
    OBrace,
    CBrace,
    OParen,
    CParen,
    OBracket,
    CBracket,
    OAngle,
    CAngle,
    Dot,
    Comma,
    Semicolon,
    Ellipsis,  // "..." written as one word
    // Keywords.
    Template,
    Word,
    Dword,
    FloatType,
    DoubleType,
    Char,
    Uchar,
    Sword,
    Sdword,
    Void,
    Lpstr,
    Unicode,
    Cstring,
    Array,
};

inline bool IsKeyword(Tok t) { return t >= Tok::Template; }

struct Token {
    Tok kind = Tok::End;
    std::string_view text;  // names, strings and keywords (as written)
    int64_t integer = 0;
    double real = 0;
    GUID guid{};
    const uint8_t* list = nullptr;  // binary lists: `count` little-endian items
    uint32_t count = 0;
    size_t offset = 0;  // where the token starts, for messages
};

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (any case).
bool ParseGuidText(std::string_view text, GUID& guid);

class Lexer {
public:
    Lexer(const uint8_t* data, size_t size, Encoding encoding, int floatSize);

    // The next token; End at the end of the input. A malformed token gives
    // DXFILEERR_PARSEERROR with reason() set.
    HRESULT Next(Token& token);
    HRESULT Peek(const Token*& token);

    struct Number {
        int64_t integer = 0;
        double real = 0;
        bool integral = false;
        size_t offset = 0;
    };
    // Text only, for runs of values: skips blanks, comments and separators
    // and reads the number that follows, if one does. False leaves the rest
    // (from the first byte that is not a separator) to Next.
    bool NextNumber(Number& number);

    // Bytes not yet consumed: every value still to come needs at least one.
    size_t Remaining() const { return size_ - (peeked_ ? peek_.offset : pos_); }
    int FloatSize() const { return floatSize_; }
    Encoding GetEncoding() const { return encoding_; }
    // "line N" for text, "byte N" for binary.
    std::string Where(size_t offset) const;
    const std::string& reason() const { return reason_; }
    HRESULT Fail(HRESULT code, size_t offset, const std::string& what);

private:
    HRESULT Read(Token& token);
    HRESULT ReadText(Token& token);
    HRESULT ReadBinary(Token& token);

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    Encoding encoding_;
    int floatSize_;
    bool peeked_ = false;
    HRESULT peekStatus_ = S_OK;
    Token peek_;
    std::string reason_;
};

}  // namespace xfile
