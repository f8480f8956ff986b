// Templates, data objects and the parser that turns a ".x" file into a tree
// of packed data objects. Used by the component's interfaces, the dump tool
// and the tests.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/win32/types.h"
#include "platform/xfile/format.h"
#include "platform/xfile/large_blocks.h"

namespace xfile {

enum class Primitive : uint8_t { None, Word, Dword, Float, Double, Char, Uchar, Sword, Sdword, String };

// Bytes a primitive takes in packed data (a string is a pointer).
size_t PrimitiveSize(Primitive p);

struct Template;

struct Dimension {
    uint32_t constant = 0;
    int member = -1;  // index of an earlier integer member, or -1 for the constant
};

struct Member {
    std::string name;
    Primitive primitive = Primitive::None;
    std::shared_ptr<const Template> type;  // when primitive is None
    bool isArray = false;
    std::vector<Dimension> dimensions;
};

struct GuidHash {
    size_t operator()(const GUID& g) const;
};

struct Template {
    enum class Children : uint8_t { Closed, Open, Restricted, Binary };
    std::string name;
    GUID guid{};
    std::vector<Member> members;
    Children children = Children::Closed;
    // Restricted children: templates named here, or with these identifiers.
    std::unordered_set<std::string> allowedNames;
    std::unordered_set<GUID, GuidHash> allowedGuids;
    // Fewest primitive values one instance holds (saturating); 0 means the
    // type packs to nothing and reads nothing.
    uint64_t minValues = 0;
    int depth = 1;  // nesting of member types, itself included
    // Every member a DWORD or SDWORD (flat integers), or every member a
    // FLOAT (flat floats), arrays included: packed, such an instance is the
    // very bytes of the binary list values it is read from.
    bool flatIntegers = false;
    bool flatFloats = false;

    bool Allows(const Template& child) const;
};

// Templates by name. Definitions are immutable once made; a later template
// of the same name replaces the earlier one for later lookups only.
class TemplateSet {
public:
    std::shared_ptr<const Template> Find(const std::string& name) const;
    void Add(std::shared_ptr<const Template> t);
    void Merge(const TemplateSet& other);
    size_t Size() const { return byName_.size(); }

private:
    std::map<std::string, std::shared_ptr<const Template>> byName_;
};

struct Node {
    enum class Kind : uint8_t { Data, Reference };
    Kind kind = Kind::Data;
    std::string name;
    bool hasGuid = false;
    GUID guid{};
    std::shared_ptr<const Template> type;  // data objects
    LargeVector<uint8_t> data;             // packed members
    std::vector<uint32_t> memberOffsets;   // one per member, then the end
    std::vector<std::unique_ptr<char[]>> strings;  // what string members point at
    std::vector<std::unique_ptr<Node>> children;
    Node* target = nullptr;  // references, once resolved
};

struct Document {
    FileHeader header;
    TemplateSet templates;  // the registered ones plus the file's own
    std::vector<std::unique_ptr<Node>> objects;  // top level, in file order
    size_t dataObjects = 0;
    size_t references = 0;
};

// Limits that keep hostile files finite.
constexpr int kMaxObjectDepth = 256;     // nesting of data objects
constexpr int kMaxTemplateDepth = 64;    // nesting of member types
constexpr int kMaxWalkDepth = 512;       // nesting seen by a walk that follows references
constexpr uint64_t kMaxWalkObjects = uint64_t(1) << 24;  // objects such a walk visits
constexpr uint64_t kMaxWalkBytes = uint64_t(1) << 30;    // packed bytes it visits
constexpr uint64_t kMaxFileSize = uint64_t(1) << 30;     // a file read from disk

// Parses a whole file. `registered` are the templates known beforehand;
// the file's own templates are added to doc.templates. Returns 0 or a
// DXFILEERR_* code with a reason.
HRESULT ParseFile(const uint8_t* data, size_t size, const TemplateSet& registered, Document& doc,
                  std::string& reason);

}  // namespace xfile
