// The component's objects over a parsed document. Every object handed out
// keeps the document alive, so packed data and strings stay valid while the
// caller holds any object of the file.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/xfile/document.h"
#include "platform/xfile/dxfile.h"

namespace xfile {
namespace {

constexpr GUID kNullGuid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

HRESULT CopyName(const std::string& name, LPSTR buffer, LPDWORD size) {
    if (!size) return DXFILEERR_BADVALUE;
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return DXFILEERR_BADVALUE;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return S_OK;
}

using DocumentPtr = std::shared_ptr<const Document>;

class DataObject final : public ComObject<IDirectXFileData> {
public:
    DataObject(DocumentPtr doc, const Node* node) : doc_(std::move(doc)), node_(node) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFileObject || riid == IID_IDirectXFileData) {
            AddRef();
            *object = static_cast<IDirectXFileData*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetName(LPSTR buffer, LPDWORD size) override { return CopyName(node_->name, buffer, size); }
    HRESULT GetId(LPGUID guid) override {
        if (!guid) return DXFILEERR_BADVALUE;
        *guid = node_->hasGuid ? node_->guid : kNullGuid;
        return S_OK;
    }
    HRESULT GetData(LPCSTR member, DWORD* size, void** data) override {
        if (!size || !data) return DXFILEERR_BADVALUE;
        *size = 0;
        *data = nullptr;
        // Empty data still gets a valid address.
        static uint8_t empty[8];
        uint8_t* base = node_->data.empty() ? empty : const_cast<uint8_t*>(node_->data.data());
        if (!member) {
            *size = static_cast<DWORD>(node_->data.size());
            *data = base;
            return S_OK;
        }
        const auto& members = node_->type->members;
        for (size_t i = 0; i < members.size(); ++i) {
            if (members[i].name != member) continue;
            const uint32_t begin = node_->memberOffsets[i], end = node_->memberOffsets[i + 1];
            *size = end - begin;
            *data = end > begin ? base + begin : empty;
            return S_OK;
        }
        return DXFILEERR_NOTFOUND;
    }
    HRESULT GetType(const GUID** guid) override {
        if (!guid) return DXFILEERR_BADVALUE;
        *guid = &node_->type->guid;
        return S_OK;
    }
    HRESULT GetNextObject(LPDIRECTXFILEOBJECT* child) override;

private:
    DocumentPtr doc_;
    const Node* node_;
    size_t nextChild_ = 0;
};

class ReferenceObject final : public ComObject<IDirectXFileDataReference> {
public:
    ReferenceObject(DocumentPtr doc, const Node* node) : doc_(std::move(doc)), node_(node) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFileObject || riid == IID_IDirectXFileDataReference) {
            AddRef();
            *object = static_cast<IDirectXFileDataReference*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // The name and identifier the reference is written with.
    HRESULT GetName(LPSTR buffer, LPDWORD size) override { return CopyName(node_->name, buffer, size); }
    HRESULT GetId(LPGUID guid) override {
        if (!guid) return DXFILEERR_BADVALUE;
        *guid = node_->hasGuid ? node_->guid : kNullGuid;
        return S_OK;
    }
    HRESULT Resolve(LPDIRECTXFILEDATA* data) override {
        if (!data) return DXFILEERR_BADVALUE;
        *data = nullptr;
        if (!node_->target) return DXFILEERR_BADDATAREFERENCE;
        auto* object = new (std::nothrow) DataObject(doc_, node_->target);
        if (!object) return DXFILEERR_BADALLOC;
        *data = object;
        return S_OK;
    }

private:
    DocumentPtr doc_;
    const Node* node_;
};

HRESULT DataObject::GetNextObject(LPDIRECTXFILEOBJECT* child) {
    if (!child) return DXFILEERR_BADVALUE;
    *child = nullptr;
    if (nextChild_ >= node_->children.size()) return DXFILEERR_NOMOREOBJECTS;
    const Node* next = node_->children[nextChild_].get();
    IDirectXFileObject* object;
    if (next->kind == Node::Kind::Data) object = new (std::nothrow) DataObject(doc_, next);
    else object = new (std::nothrow) ReferenceObject(doc_, next);
    if (!object) return DXFILEERR_BADALLOC;
    ++nextChild_;
    *child = object;
    return S_OK;
}

class EnumObject final : public ComObject<IDirectXFileEnumObject> {
public:
    explicit EnumObject(DocumentPtr doc) : doc_(std::move(doc)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFileEnumObject) {
            AddRef();
            *object = static_cast<IDirectXFileEnumObject*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetNextDataObject(LPDIRECTXFILEDATA* data) override {
        if (!data) return DXFILEERR_BADVALUE;
        *data = nullptr;
        if (next_ >= doc_->objects.size()) return DXFILEERR_NOMOREOBJECTS;
        return Hand(doc_->objects[next_++].get(), data);
    }
    HRESULT GetDataObjectById(REFGUID guid, LPDIRECTXFILEDATA* data) override {
        if (!data) return DXFILEERR_BADVALUE;
        *data = nullptr;
        for (const auto& n : doc_->objects)
            if (const Node* found = Find(*n, [&](const Node& x) { return x.hasGuid && x.guid == guid; }))
                return Hand(found, data);
        return DXFILEERR_NOTFOUND;
    }
    HRESULT GetDataObjectByName(LPCSTR name, LPDIRECTXFILEDATA* data) override {
        if (!data) return DXFILEERR_BADVALUE;
        *data = nullptr;
        if (!name) return DXFILEERR_BADVALUE;
        for (const auto& n : doc_->objects)
            if (const Node* found = Find(*n, [&](const Node& x) { return x.name == name; })) return Hand(found, data);
        return DXFILEERR_NOTFOUND;
    }

private:
    template <class Match>
    static const Node* Find(const Node& n, const Match& match) {
        if (n.kind != Node::Kind::Data) return nullptr;
        if (match(n)) return &n;
        for (const auto& c : n.children)
            if (const Node* found = Find(*c, match)) return found;
        return nullptr;
    }
    HRESULT Hand(const Node* node, LPDIRECTXFILEDATA* data) {
        auto* object = new (std::nothrow) DataObject(doc_, node);
        if (!object) return DXFILEERR_BADALLOC;
        *data = object;
        return S_OK;
    }

    DocumentPtr doc_;
    size_t next_ = 0;
};

// A whole file's bytes, mapped when the system allows (no copy, and pages
// come straight from the file cache), else read.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() {
        if (mapped_) munmap(mapped_, size_);
    }

    HRESULT Open(const char* path) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return DXFILEERR_FILENOTFOUND;
        struct stat st {};
        HRESULT hr = S_OK;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 || uint64_t(st.st_size) > kMaxFileSize) {
            hr = DXFILEERR_BADFILE;
        } else {
            size_ = static_cast<size_t>(st.st_size);
            if (size_ > 0) {
                void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
                if (p != MAP_FAILED) {
                    mapped_ = p;
                    data_ = static_cast<const uint8_t*>(p);
                } else {
                    hr = ReadAll(fd);
                }
            }
        }
        close(fd);
        return hr;
    }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    HRESULT ReadAll(int fd) {
        read_.reset(new (std::nothrow) uint8_t[size_]);
        if (!read_) return DXFILEERR_BADALLOC;
        size_t got = 0;
        while (got < size_) {
            const ssize_t n = read(fd, read_.get() + got, size_ - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return DXFILEERR_BADFILE;
            got += static_cast<size_t>(n);
        }
        data_ = read_.get();
        return S_OK;
    }

    void* mapped_ = nullptr;
    std::unique_ptr<uint8_t[]> read_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

class FileObject final : public ComObject<IDirectXFile> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDirectXFile) {
            AddRef();
            *object = static_cast<IDirectXFile*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT CreateEnumObject(LPVOID source, DXFILELOADOPTIONS options, LPDIRECTXFILEENUMOBJECT* enumObject) override {
        if (!enumObject) return DXFILEERR_BADVALUE;
        *enumObject = nullptr;
        if (!source) return DXFILEERR_BADVALUE;
        FileBytes fileBytes;
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (options == DXFILELOAD_FROMFILE) {
            if (HRESULT hr = fileBytes.Open(static_cast<const char*>(source)); FAILED(hr)) return hr;
            data = fileBytes.Data();
            size = fileBytes.Size();
        } else if (options == DXFILELOAD_FROMMEMORY) {
            const auto* memory = static_cast<const DXFILELOADMEMORY*>(source);
            if (!memory->lpMemory && memory->dSize) return DXFILEERR_BADVALUE;
            data = static_cast<const uint8_t*>(memory->lpMemory);
            size = memory->dSize;
        } else {
            // Resources, streams and URLs are not sources on this platform.
            return DXFILEERR_BADVALUE;
        }
        auto doc = std::make_shared<Document>();
        std::string reason;
        try {
            if (HRESULT hr = ParseFile(data, size, templates_, *doc, reason); FAILED(hr)) return hr;
        } catch (const std::bad_alloc&) {
            return DXFILEERR_BADALLOC;
        }
        auto* object = new (std::nothrow) EnumObject(std::move(doc));
        if (!object) return DXFILEERR_BADALLOC;
        *enumObject = object;
        return S_OK;
    }

    HRESULT RegisterTemplates(LPVOID data, DWORD size) override {
        if (!data) return DXFILEERR_BADVALUE;
        Document doc;
        std::string reason;
        try {
            if (HRESULT hr = ParseFile(static_cast<const uint8_t*>(data), size, templates_, doc, reason); FAILED(hr))
                return hr;
            templates_ = std::move(doc.templates);
        } catch (const std::bad_alloc&) {
            return DXFILEERR_BADALLOC;
        }
        return S_OK;
    }

private:
    TemplateSet templates_;
};

}  // namespace
}  // namespace xfile

extern "C" __attribute__((visibility("default"))) HRESULT DirectXFileCreate(LPDIRECTXFILE* file) {
    if (!file) return DXFILEERR_BADVALUE;
    *file = new (std::nothrow) xfile::FileObject;
    return *file ? S_OK : DXFILEERR_BADALLOC;
}
