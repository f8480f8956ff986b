#include "platform/xfile/document.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/xfile/dxfile.h"
#include "platform/xfile/lexer.h"

namespace xfile {
namespace {

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}
uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

bool IsNameToken(Tok t) { return t == Tok::Name || (IsKeyword(t) && t != Tok::Template); }
// Where only a name can stand (an object's own name, a reference), a word
// that looks like a number is a name too: "Frame 1 { ... }".
bool IsNameOrNumberWord(const Token& t) {
    return IsNameToken(t.kind) || ((t.kind == Tok::Integer || t.kind == Tok::Float) && !t.text.empty());
}

bool IsIntegerPrimitive(Primitive p) {
    return p == Primitive::Word || p == Primitive::Dword || p == Primitive::Char ||
           p == Primitive::Uchar || p == Primitive::Sword || p == Primitive::Sdword;
}

Primitive PrimitiveOf(Tok t) {
    switch (t) {
        case Tok::Word: return Primitive::Word;
        case Tok::Dword: return Primitive::Dword;
        case Tok::FloatType: return Primitive::Float;
        case Tok::DoubleType: return Primitive::Double;
        case Tok::Char: return Primitive::Char;
        case Tok::Uchar: return Primitive::Uchar;
        case Tok::Sword: return Primitive::Sword;
        case Tok::Sdword: return Primitive::Sdword;
        case Tok::Lpstr:
        case Tok::Unicode:
        case Tok::Cstring: return Primitive::String;
        default: return Primitive::None;
    }
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void AppendLittleEndian(LargeVector<uint8_t>& out, uint64_t v, size_t bytes) {
    const size_t at = out.size();
    out.resize(at + bytes);
    uint8_t* to = out.data() + at;
    for (size_t i = 0; i < bytes; ++i) to[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Value {
    enum class Kind : uint8_t { Integer, Real, String } kind = Kind::Integer;
    int64_t integer = 0;
    double real = 0;
    std::string_view text;
};

// Members a flat template may have (see Template::flatIntegers).
constexpr size_t kFlatMembers = 16;

class Parser {
public:
    Parser(Lexer& lexer, Document& doc) : lex_(lexer), doc_(doc) {}

    HRESULT ParseAll() {
        for (;;) {
            Token t;
            if (HRESULT hr = lex_.Next(t); FAILED(hr)) return hr;
            if (t.kind == Tok::End) return S_OK;
            if (t.kind == Tok::Comma || t.kind == Tok::Semicolon) continue;
            if (t.kind == Tok::Template) {
                if (HRESULT hr = ParseTemplate(); FAILED(hr)) return hr;
                continue;
            }
            if (!IsNameToken(t.kind)) return lex_.Fail(DXFILEERR_PARSEERROR, t.offset, "expected a template or a data object");
            std::unique_ptr<Node> node;
            if (HRESULT hr = ParseObject(t, 1, node); FAILED(hr)) return hr;
            doc_.objects.push_back(std::move(node));
        }
    }

private:
    HRESULT Expect(Tok kind, const char* what) {
        Token t;
        if (HRESULT hr = lex_.Next(t); FAILED(hr)) return hr;
        if (t.kind != kind) return lex_.Fail(DXFILEERR_PARSEERROR, t.offset, std::string("expected ") + what);
        return S_OK;
    }

    // Skips separators and peeks at what follows them.
    HRESULT PeekSkippingSeparators(const Token*& t) {
        for (;;) {
            if (HRESULT hr = lex_.Peek(t); FAILED(hr)) return hr;
            if (t->kind != Tok::Comma && t->kind != Tok::Semicolon) return S_OK;
            Token skip;
            lex_.Next(skip);
        }
    }

    HRESULT ParseTemplate() {
        Token nameTok;
        if (HRESULT hr = lex_.Next(nameTok); FAILED(hr)) return hr;
        if (!IsNameToken(nameTok.kind)) return lex_.Fail(DXFILEERR_PARSEERROR, nameTok.offset, "expected a template name");
        auto t = std::make_shared<Template>();
        t->name = std::string(nameTok.text);
        if (HRESULT hr = Expect(Tok::OBrace, "'{' after the template name"); FAILED(hr)) return hr;
        const Token* p;
        if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
        if (p->kind == Tok::Guid) {
            t->guid = p->guid;
            Token skip;
            lex_.Next(skip);
        }
        // Integer members by name, for the arrays they size.
        std::unordered_map<std::string, int> countMembers;
        for (;;) {
            Token tok;
            if (HRESULT hr = lex_.Next(tok); FAILED(hr)) return hr;
            if (tok.kind == Tok::CBrace) break;
            if (tok.kind == Tok::Comma || tok.kind == Tok::Semicolon) continue;
            if (tok.kind == Tok::OBracket) {
                if (HRESULT hr = ParseRestrictions(*t); FAILED(hr)) return hr;
                if (HRESULT hr = PeekSkippingSeparators(p); FAILED(hr)) return hr;
                if (HRESULT hr = Expect(Tok::CBrace, "'}' after the template's children"); FAILED(hr)) return hr;
                break;
            }
            Member m;
            if (tok.kind == Tok::Array) {
                m.isArray = true;
                if (HRESULT hr = lex_.Next(tok); FAILED(hr)) return hr;
            }
            if (tok.kind == Tok::Void) return lex_.Fail(DXFILEERR_BADTYPE, tok.offset, "VOID member");
            m.primitive = PrimitiveOf(tok.kind);
            if (m.primitive == Primitive::None) {
                if (tok.kind != Tok::Name) return lex_.Fail(DXFILEERR_PARSEERROR, tok.offset, "expected a member type");
                m.type = doc_.templates.Find(std::string(tok.text));
                if (!m.type)
                    return lex_.Fail(DXFILEERR_NOTEMPLATE, tok.offset, "unknown template " + std::string(tok.text));
                if (m.type->depth + 1 > kMaxTemplateDepth)
                    return lex_.Fail(DXFILEERR_BADTYPE, tok.offset, "templates nested too deeply");
                t->depth = std::max(t->depth, m.type->depth + 1);
            }
            if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
            if (IsNameToken(p->kind)) {
                m.name = std::string(p->text);
                Token skip;
                lex_.Next(skip);
            }
            if (m.isArray) {
                if (HRESULT hr = ParseDimensions(countMembers, m); FAILED(hr)) return hr;
            } else if (IsIntegerPrimitive(m.primitive) && !m.name.empty()) {
                countMembers[m.name] = static_cast<int>(t->members.size());
            }
            t->members.push_back(std::move(m));
        }
        // What one instance reads at the least.
        uint64_t minValues = 0;
        for (const Member& m : t->members) {
            uint64_t element = m.primitive != Primitive::None ? 1 : m.type->minValues;
            uint64_t count = 1;
            for (const Dimension& d : m.dimensions) count = d.member >= 0 ? 0 : SaturatingMul(count, d.constant);
            minValues = SaturatingAdd(minValues, SaturatingMul(element, count));
        }
        t->minValues = minValues;
        t->flatIntegers = t->flatFloats = !t->members.empty() && t->members.size() <= kFlatMembers;
        for (const Member& m : t->members) {
            if (m.primitive != Primitive::Dword && m.primitive != Primitive::Sdword) t->flatIntegers = false;
            if (m.primitive != Primitive::Float) t->flatFloats = false;
        }
        doc_.templates.Add(std::move(t));
        return S_OK;
    }

    HRESULT ParseDimensions(const std::unordered_map<std::string, int>& countMembers, Member& m) {
        const Token* p;
        for (;;) {
            if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
            if (p->kind != Tok::OBracket) break;
            Token skip, dim;
            lex_.Next(skip);
            if (HRESULT hr = lex_.Next(dim); FAILED(hr)) return hr;
            Dimension d;
            if (dim.kind == Tok::IntegerList && dim.count == 1) {
                // Some binary writers put the size in a one-item list.
                dim.kind = Tok::Integer;
                dim.integer = int64_t(uint32_t(dim.list[0]) | (uint32_t(dim.list[1]) << 8) |
                                      (uint32_t(dim.list[2]) << 16) | (uint32_t(dim.list[3]) << 24));
            }
            if (dim.kind == Tok::Integer) {
                if (dim.integer < 0 || dim.integer > int64_t(UINT32_MAX))
                    return lex_.Fail(DXFILEERR_BADARRAYSIZE, dim.offset, "bad array size");
                d.constant = static_cast<uint32_t>(dim.integer);
            } else if (IsNameToken(dim.kind)) {
                auto it = countMembers.find(std::string(dim.text));
                if (it != countMembers.end()) d.member = it->second;
                if (d.member < 0)
                    return lex_.Fail(DXFILEERR_BADARRAYSIZE, dim.offset,
                                     "array sized by unknown member " + std::string(dim.text));
            } else {
                return lex_.Fail(DXFILEERR_BADARRAYSIZE, dim.offset, "bad array size");
            }
            m.dimensions.push_back(d);
            if (HRESULT hr = Expect(Tok::CBracket, "']' after the array size"); FAILED(hr)) return hr;
        }
        if (m.dimensions.empty()) return lex_.Fail(DXFILEERR_PARSEERROR, p->offset, "array without a size");
        return S_OK;
    }

    HRESULT ParseRestrictions(Template& t) {
        const Token* p;
        if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
        if (p->kind == Tok::Ellipsis || p->kind == Tok::Dot) {
            Token tok;
            lex_.Next(tok);
            if (tok.kind == Tok::Dot) {
                for (int i = 0; i < 2; ++i)
                    if (HRESULT hr = Expect(Tok::Dot, "'...'"); FAILED(hr)) return hr;
            }
            t.children = Template::Children::Open;
            return Expect(Tok::CBracket, "']' after '...'");
        }
        if (p->kind == Tok::Name && EqualNoCase(p->text, "binary")) {
            Token tok;
            lex_.Next(tok);
            t.children = Template::Children::Binary;
            return Expect(Tok::CBracket, "']' after BINARY");
        }
        t.children = Template::Children::Restricted;
        bool guidAllowed = false;  // a GUID may follow each name
        for (;;) {
            Token tok;
            if (HRESULT hr = lex_.Next(tok); FAILED(hr)) return hr;
            if (tok.kind == Tok::CBracket) break;
            if (tok.kind == Tok::Comma) continue;
            if (tok.kind == Tok::Guid && guidAllowed) {
                t.allowedGuids.insert(tok.guid);
                guidAllowed = false;
                continue;
            }
            if (!IsNameToken(tok.kind))
                return lex_.Fail(DXFILEERR_PARSEERROR, tok.offset, "expected a template name in the child list");
            t.allowedNames.emplace(tok.text);
            guidAllowed = true;
        }
        if (t.allowedNames.empty()) t.children = Template::Children::Closed;
        return S_OK;
    }

    HRESULT ParseObject(const Token& typeTok, int depth, std::unique_ptr<Node>& out) {
        if (depth > kMaxObjectDepth) return lex_.Fail(DXFILEERR_PARSEERROR, typeTok.offset, "data objects nested too deeply");
        auto node = std::make_unique<Node>();
        node->type = doc_.templates.Find(std::string(typeTok.text));
        if (!node->type)
            return lex_.Fail(DXFILEERR_NOTEMPLATE, typeTok.offset, "unknown template " + std::string(typeTok.text));
        const Template& type = *node->type;
        const Token* p;
        if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
        if (IsNameOrNumberWord(*p)) {
            node->name = std::string(p->text);
            Token skip;
            lex_.Next(skip);
            if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
        }
        for (int pass = 0; pass < 2; ++pass) {
            // The identifier is written first inside the braces; some
            // writers put it before them.
            if (p->kind == Tok::Guid) {
                node->hasGuid = true;
                node->guid = p->guid;
                Token skip;
                lex_.Next(skip);
            }
            if (pass == 0) {
                if (HRESULT hr = Expect(Tok::OBrace, "'{' after the object's name"); FAILED(hr)) return hr;
                if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
            }
        }
        ++doc_.dataObjects;
        const size_t start = typeTok.offset;
        if (HRESULT hr = PackStruct(type, *node, true, start); FAILED(hr)) return hr;
        if (listLeft_ > 0)
            return lex_.Fail(DXFILEERR_BADARRAYSIZE, start, "more values than template " + type.name + " holds");
        for (;;) {
            Token tok;
            if (HRESULT hr = lex_.Next(tok); FAILED(hr)) return hr;
            if (tok.kind == Tok::CBrace) break;
            if (tok.kind == Tok::Comma || tok.kind == Tok::Semicolon) continue;
            if (tok.kind == Tok::Template) {
                if (HRESULT hr = ParseTemplate(); FAILED(hr)) return hr;
                continue;
            }
            std::unique_ptr<Node> child;
            if (tok.kind == Tok::OBrace) {
                if (HRESULT hr = ParseReference(tok, child); FAILED(hr)) return hr;
                if (type.children == Template::Children::Closed || type.children == Template::Children::Binary)
                    return lex_.Fail(DXFILEERR_BADOBJECT, tok.offset, "template " + type.name + " takes no references");
            } else if (IsNameToken(tok.kind)) {
                if (HRESULT hr = ParseObject(tok, depth + 1, child); FAILED(hr)) return hr;
                if (!type.Allows(*child->type))
                    return lex_.Fail(DXFILEERR_BADOBJECT, tok.offset,
                                     "template " + type.name + " does not take " + child->type->name + " children");
            } else if (tok.kind == Tok::End) {
                return lex_.Fail(DXFILEERR_PARSEERROR, tok.offset, "file ends inside " + type.name);
            } else if (tok.kind == Tok::Integer || tok.kind == Tok::Float || tok.kind == Tok::String ||
                       tok.kind == Tok::IntegerList || tok.kind == Tok::FloatList) {
                return lex_.Fail(DXFILEERR_BADARRAYSIZE, tok.offset, "more values than template " + type.name + " holds");
            } else {
                return lex_.Fail(DXFILEERR_PARSEERROR, tok.offset, "unexpected token in " + type.name);
            }
            node->children.push_back(std::move(child));
        }
        out = std::move(node);
        return S_OK;
    }

    HRESULT ParseReference(const Token& open, std::unique_ptr<Node>& out) {
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Reference;
        bool named = false;
        for (;;) {
            Token tok;
            if (HRESULT hr = lex_.Next(tok); FAILED(hr)) return hr;
            if (tok.kind == Tok::CBrace) break;
            if (tok.kind == Tok::Comma || tok.kind == Tok::Semicolon) continue;
            if (IsNameOrNumberWord(tok) && !named && !node->hasGuid) {
                node->name = std::string(tok.text);
                named = true;
            } else if (tok.kind == Tok::Guid && !node->hasGuid) {
                node->hasGuid = true;
                node->guid = tok.guid;
            } else {
                return lex_.Fail(DXFILEERR_PARSEERROR, tok.offset, "bad reference");
            }
        }
        if (!named && !node->hasGuid) return lex_.Fail(DXFILEERR_PARSEERROR, open.offset, "empty reference");
        ++doc_.references;
        out = std::move(node);
        return S_OK;
    }

    // Values still to come can be at most this many.
    uint64_t RemainingValues() const { return uint64_t(listLeft_) + lex_.Remaining(); }

    HRESULT NextValue(Value& v) {
        if (listLeft_ > 0) {
            valueOffset_ = listOffset_;
            if (listFloat_) {
                v.kind = Value::Kind::Real;
                if (lex_.FloatSize() == 64) {
                    double d;
                    std::memcpy(&d, list_, 8);
                    v.real = d;
                    list_ += 8;
                } else {
                    float f;
                    std::memcpy(&f, list_, 4);
                    v.real = f;
                    list_ += 4;
                }
            } else {
                v.kind = Value::Kind::Integer;
                v.integer = int64_t(uint32_t(list_[0]) | (uint32_t(list_[1]) << 8) | (uint32_t(list_[2]) << 16) |
                                    (uint32_t(list_[3]) << 24));
                list_ += 4;
            }
            --listLeft_;
            return S_OK;
        }
        Lexer::Number number;
        if (lex_.NextNumber(number)) {
            valueOffset_ = number.offset;
            v.kind = number.integral ? Value::Kind::Integer : Value::Kind::Real;
            v.integer = number.integer;
            v.real = number.real;
            return S_OK;
        }
        for (;;) {
            const Token* p;
            if (HRESULT hr = lex_.Peek(p); FAILED(hr)) return hr;
            switch (p->kind) {
                case Tok::Comma:
                case Tok::Semicolon: {
                    Token skip;
                    lex_.Next(skip);
                    continue;
                }
                case Tok::Integer:
                    v.kind = Value::Kind::Integer;
                    v.integer = p->integer;
                    break;
                case Tok::Float:
                    v.kind = Value::Kind::Real;
                    v.real = p->real;
                    break;
                case Tok::String:
                    v.kind = Value::Kind::String;
                    v.text = p->text;
                    break;
                case Tok::IntegerList:
                case Tok::FloatList: {
                    Token list;
                    lex_.Next(list);
                    list_ = list.list;
                    listLeft_ = list.count;
                    listOffset_ = list.offset;
                    listFloat_ = list.kind == Tok::FloatList;
                    if (listLeft_ == 0) continue;
                    return NextValue(v);
                }
                default:
                    return lex_.Fail(DXFILEERR_PARSEERROR, p->offset, "fewer values than the template needs");
            }
            valueOffset_ = p->offset;
            Token used;
            lex_.Next(used);
            return S_OK;
        }
    }

    HRESULT Store(Primitive prim, const Value& v, Node& node, uint64_t& asCount) {
        const size_t where = valueOffset_;
        LargeVector<uint8_t>& out = node.data;
        if (prim == Primitive::String) {
            if (v.kind != Value::Kind::String) return lex_.Fail(DXFILEERR_BADVALUE, where, "expected a string");
            auto s = std::make_unique<char[]>(v.text.size() + 1);
            std::memcpy(s.get(), v.text.data(), v.text.size());
            s[v.text.size()] = '\0';
            const char* ptr = s.get();
            const size_t at = out.size();
            out.resize(at + sizeof ptr);
            std::memcpy(out.data() + at, &ptr, sizeof ptr);
            node.strings.push_back(std::move(s));
            return S_OK;
        }
        if (v.kind == Value::Kind::String) return lex_.Fail(DXFILEERR_BADVALUE, where, "expected a number");
        if (prim == Primitive::Float || prim == Primitive::Double) {
            const double d = v.kind == Value::Kind::Integer ? static_cast<double>(v.integer) : v.real;
            if (prim == Primitive::Float) {
                const float f = static_cast<float>(d);
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                AppendLittleEndian(out, bits, 4);
            } else {
                uint64_t bits;
                std::memcpy(&bits, &d, 8);
                AppendLittleEndian(out, bits, 8);
            }
            return S_OK;
        }
        int64_t i;
        if (v.kind == Value::Kind::Integer) {
            i = v.integer;
        } else {
            // An integer written with a fraction point is accepted when it is whole.
            if (!std::isfinite(v.real) || v.real != std::floor(v.real) || std::fabs(v.real) > 9.0e15)
                return lex_.Fail(DXFILEERR_BADVALUE, where, "expected an integer");
            i = static_cast<int64_t>(v.real);
        }
        size_t bytes = PrimitiveSize(prim);
        const int64_t lo = -(int64_t(1) << (8 * bytes - 1));
        const int64_t hi = (int64_t(1) << (8 * bytes)) - 1;
        // Binary files hold every integer as an unsigned DWORD, so a negative
        // value of a signed member arrives in two's complement.
        if (i > hi && i <= int64_t(UINT32_MAX)) i = static_cast<int32_t>(static_cast<uint32_t>(i));
        if (i < lo || i > hi) return lex_.Fail(DXFILEERR_BADVALUE, where, "integer out of range");
        AppendLittleEndian(out, static_cast<uint64_t>(i), bytes);
        const uint64_t mask = (uint64_t(1) << (8 * bytes)) - 1;
        asCount = static_cast<uint64_t>(i) & mask;
        return S_OK;
    }

    // Grows the packed data for `more` bytes to come, within what the rest of
    // the input could hold (no value packs to more than 8 bytes).
    void Reserve(Node& node, uint64_t more) {
        more = std::min(more, SaturatingMul(RemainingValues(), 8));
        const uint64_t wanted = SaturatingAdd(node.data.size(), more);
        if (wanted > node.data.capacity() && wanted <= UINT32_MAX) node.data.reserve(static_cast<size_t>(wanted));
    }

    // Copies up to `most` values of a binary list straight into the packed
    // data when the list holds them in the member's own form (DWORDs from an
    // integer list, 32-bit floats from a float list). Returns how many.
    uint64_t TakeListRun(Primitive prim, uint64_t most, Node& node) {
        if (listLeft_ == 0) return 0;
        const bool match = listFloat_ ? prim == Primitive::Float && lex_.FloatSize() == 32
                                      : prim == Primitive::Dword || prim == Primitive::Sdword;
        if (!match) return 0;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(most, listLeft_));
        node.data.insert(node.data.end(), list_, list_ + size_t{n} * 4);
        list_ += size_t{n} * 4;
        listLeft_ -= n;
        valueOffset_ = listOffset_;
        return n;
    }

    // Packs one instance of a flat template straight from the binary list
    // being read, when the list holds the whole instance in the template's
    // own form; false (nothing taken) otherwise.
    bool TakeFlatElement(const Template& t, Node& node) {
        if (listLeft_ == 0) return false;
        if (t.flatFloats ? !(listFloat_ && lex_.FloatSize() == 32) : !(t.flatIntegers && !listFloat_)) return false;
        uint64_t counts[kFlatMembers];
        uint64_t used = 0;
        for (size_t i = 0; i < t.members.size(); ++i) {
            const Member& m = t.members[i];
            uint64_t n = 1;
            if (m.isArray) {
                for (const Dimension& d : m.dimensions) n = SaturatingMul(n, d.member >= 0 ? counts[d.member] : d.constant);
            }
            if (n > listLeft_ - used) return false;
            if (!m.isArray) {
                const uint8_t* v = list_ + used * 4;
                counts[i] = uint32_t(v[0]) | (uint32_t(v[1]) << 8) | (uint32_t(v[2]) << 16) | (uint32_t(v[3]) << 24);
            }
            used += n;
        }
        node.data.insert(node.data.end(), list_, list_ + used * 4);
        list_ += used * 4;
        listLeft_ -= static_cast<uint32_t>(used);
        valueOffset_ = listOffset_;
        return true;
    }

    HRESULT PackStruct(const Template& t, Node& node, bool top, size_t where) {
        uint64_t small[16];
        std::vector<uint64_t> large;
        uint64_t* counts = small;
        if (t.members.size() > 16) {
            large.assign(t.members.size(), 0);
            counts = large.data();
        }
        if (top) node.memberOffsets.reserve(t.members.size() + 1);
        for (size_t i = 0; i < t.members.size(); ++i) {
            const Member& m = t.members[i];
            counts[i] = 0;
            if (top) node.memberOffsets.push_back(static_cast<uint32_t>(node.data.size()));
            if (!m.isArray) {
                if (m.primitive != Primitive::None) {
                    Value v;
                    if (HRESULT hr = NextValue(v); FAILED(hr)) return hr;
                    if (HRESULT hr = Store(m.primitive, v, node, counts[i]); FAILED(hr)) return hr;
                } else if (HRESULT hr = PackStruct(*m.type, node, false, where); FAILED(hr)) {
                    return hr;
                }
                continue;
            }
            uint64_t count = 1;
            for (const Dimension& d : m.dimensions) count = SaturatingMul(count, d.member >= 0 ? counts[d.member] : d.constant);
            const uint64_t element = m.primitive != Primitive::None ? 1 : m.type->minValues;
            if (element == 0 || count == 0) continue;
            if (SaturatingMul(count, element) > RemainingValues())
                return lex_.Fail(DXFILEERR_BADARRAYSIZE, where,
                                 "array " + m.name + " of " + std::to_string(count) + " elements in " + t.name +
                                     " is longer than the file");
            if (m.primitive != Primitive::None) {
                Reserve(node, SaturatingMul(count, PrimitiveSize(m.primitive)));
                uint64_t unused = 0;
                for (uint64_t k = 0; k < count;) {
                    if (const uint64_t n = TakeListRun(m.primitive, count - k, node)) {
                        k += n;
                        continue;
                    }
                    Value v;
                    if (HRESULT hr = NextValue(v); FAILED(hr)) return hr;
                    if (HRESULT hr = Store(m.primitive, v, node, unused); FAILED(hr)) return hr;
                    ++k;
                }
            } else {
                // Room for the rest as large as the first element: exact for
                // arrays of like elements, which is what files hold.
                const size_t before = node.data.size();
                for (uint64_t k = 0; k < count; ++k) {
                    if (!TakeFlatElement(*m.type, node)) {
                        if (HRESULT hr = PackStruct(*m.type, node, false, where); FAILED(hr)) return hr;
                    }
                    if (k == 0) Reserve(node, SaturatingMul(count - 1, node.data.size() - before));
                }
            }
        }
        if (node.data.size() > UINT32_MAX) return lex_.Fail(DXFILEERR_BADVALUE, where, "object too large");
        if (top) node.memberOffsets.push_back(static_cast<uint32_t>(node.data.size()));
        return S_OK;
    }

    Lexer& lex_;
    Document& doc_;
    // The binary list values are being taken from.
    const uint8_t* list_ = nullptr;
    uint32_t listLeft_ = 0;
    bool listFloat_ = false;
    size_t listOffset_ = 0;
    size_t valueOffset_ = 0;  // where the value last taken was written
};

class Linker {
public:
    explicit Linker(Document& doc) : doc_(doc) {}

    HRESULT Run(std::string& reason) {
        for (auto& n : doc_.objects) Index(*n);
        for (auto& n : doc_.objects)
            if (HRESULT hr = Resolve(*n, reason); FAILED(hr)) return hr;
        for (auto& n : doc_.objects)
            if (HRESULT hr = Walk(*n, 1, reason); FAILED(hr)) return hr;
        return S_OK;
    }

private:
    struct WalkInfo {
        uint8_t state = 0;  // 0 new, 1 on the current path, 2 done
        int depth = 0;
        uint64_t objects = 0;
        uint64_t bytes = 0;
    };

    // The first object of each name and identifier, in file order.
    void Index(Node& n) {
        if (n.kind != Node::Kind::Data) return;
        if (!n.name.empty()) byName_.emplace(n.name, &n);
        if (n.hasGuid) byGuid_.emplace(n.guid, &n);
        for (auto& c : n.children) Index(*c);
    }

    HRESULT Resolve(Node& parent, std::string& reason) {
        for (auto& c : parent.children) {
            if (c->kind == Node::Kind::Data) {
                if (HRESULT hr = Resolve(*c, reason); FAILED(hr)) return hr;
                continue;
            }
            Node* target = nullptr;
            if (!c->name.empty()) {
                auto it = byName_.find(c->name);
                if (it != byName_.end()) target = it->second;
            }
            if (!target && c->hasGuid) {
                auto it = byGuid_.find(c->guid);
                if (it != byGuid_.end()) target = it->second;
            }
            if (!target) {
                reason = "reference to a missing object" + (c->name.empty() ? std::string() : " " + c->name);
                return DXFILEERR_BADDATAREFERENCE;
            }
            if (!parent.type->Allows(*target->type)) {
                reason = "template " + parent.type->name + " does not take " + target->type->name + " children";
                return DXFILEERR_BADOBJECT;
            }
            c->target = target;
        }
        return S_OK;
    }

    // What a walk from this object that follows references meets: no
    // cycle, a bounded depth, and a bounded number of objects and bytes.
    HRESULT Walk(Node& n, int level, std::string& reason) {
        WalkInfo& info = walk_[&n];
        if (info.state == 2) return S_OK;
        if (info.state == 1) {
            reason = "cyclic reference through " + (n.name.empty() ? n.type->name : n.name);
            return DXFILEERR_BADDATAREFERENCE;
        }
        if (level > kMaxWalkDepth) {
            reason = "references nest too deeply";
            return DXFILEERR_BADDATAREFERENCE;
        }
        info.state = 1;
        int depth = 1;
        uint64_t objects = 1, bytes = n.data.size();
        for (auto& c : n.children) {
            Node* next = c->kind == Node::Kind::Data ? c.get() : c->target;
            if (HRESULT hr = Walk(*next, level + 1, reason); FAILED(hr)) return hr;
            const WalkInfo& sub = walk_[next];
            depth = std::max(depth, sub.depth + 1);
            objects = SaturatingAdd(objects, sub.objects);
            bytes = SaturatingAdd(bytes, sub.bytes);
            if (level + depth > kMaxWalkDepth + 1) {
                reason = "references nest too deeply";
                return DXFILEERR_BADDATAREFERENCE;
            }
            if (objects > kMaxWalkObjects || bytes > kMaxWalkBytes) {
                reason = "references repeat too much data";
                return DXFILEERR_BADDATAREFERENCE;
            }
        }
        WalkInfo& done = walk_[&n];  // the map may have grown
        done.state = 2;
        done.depth = depth;
        done.objects = objects;
        done.bytes = bytes;
        return S_OK;
    }

    Document& doc_;
    std::unordered_map<std::string_view, Node*> byName_;
    std::unordered_map<GUID, Node*, GuidHash> byGuid_;
    std::unordered_map<const Node*, WalkInfo> walk_;
};

}  // namespace

size_t GuidHash::operator()(const GUID& g) const {
    uint64_t a;
    std::memcpy(&a, g.Data4, 8);
    return std::hash<uint64_t>()(a ^ (uint64_t(g.Data1) << 32) ^ (uint64_t(g.Data2) << 16) ^ g.Data3);
}

size_t PrimitiveSize(Primitive p) {
    switch (p) {
        case Primitive::Word:
        case Primitive::Sword: return 2;
        case Primitive::Dword:
        case Primitive::Sdword:
        case Primitive::Float: return 4;
        case Primitive::Double: return 8;
        case Primitive::Char:
        case Primitive::Uchar: return 1;
        case Primitive::String: return sizeof(const char*);
        case Primitive::None: break;
    }
    return 0;
}

bool Template::Allows(const Template& child) const {
    switch (children) {
        case Children::Open: return true;
        case Children::Closed:
        case Children::Binary: return false;
        case Children::Restricted:
            return allowedNames.count(child.name) != 0 || allowedGuids.count(child.guid) != 0;
    }
    return false;
}

std::shared_ptr<const Template> TemplateSet::Find(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

void TemplateSet::Add(std::shared_ptr<const Template> t) {
    std::string name = t->name;
    byName_[name] = std::move(t);
}

void TemplateSet::Merge(const TemplateSet& other) {
    for (const auto& [name, t] : other.byName_) byName_[name] = t;
}

HRESULT ParseFile(const uint8_t* data, size_t size, const TemplateSet& registered, Document& doc,
                  std::string& reason) {
    reason.clear();
    if (!data && size) return DXFILEERR_BADVALUE;
    // Some editors put a UTF-8 byte-order mark before the header.
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) data += 3, size -= 3;
    if (HRESULT hr = ReadHeader(data, size, doc.header, reason); FAILED(hr)) return hr;
    std::vector<uint8_t> unpacked;
    const uint8_t* body = data + kHeaderSize;
    size_t bodySize = size - kHeaderSize;
    if (doc.header.compressed) {
        if (HRESULT hr = Decompress(body, bodySize, unpacked, reason); FAILED(hr)) return hr;
        body = unpacked.data();
        bodySize = unpacked.size();
    }
    doc.templates = registered;
    Lexer lexer(body, bodySize, doc.header.encoding, doc.header.floatSize);
    Parser parser(lexer, doc);
    if (HRESULT hr = parser.ParseAll(); FAILED(hr)) {
        reason = lexer.reason();
        return hr;
    }
    return Linker(doc).Run(reason);
}

}  // namespace xfile
