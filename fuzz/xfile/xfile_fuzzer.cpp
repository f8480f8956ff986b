// Feeds arbitrary bytes to the .x file component as a whole file (text,
// binary or compressed, as the header says) with the standard templates
// registered, then walks everything it gives back the way a mesh reader
// does: every object's data, every child, every reference resolved.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/xfile/dxfile.h"
#include "platform/xfile/templates.h"

namespace {

IDirectXFile* TheFile() {
    static IDirectXFile* file = [] {
        IDirectXFile* f = nullptr;
        if (FAILED(DirectXFileCreate(&f))) __builtin_trap();
        if (FAILED(f->RegisterTemplates(const_cast<char*>(XTEMPLATES_STANDARD), XTEMPLATES_STANDARD_BYTES)) ||
            FAILED(f->RegisterTemplates(const_cast<char*>(XTEMPLATES_SKIN_EFFECT), XTEMPLATES_SKIN_EFFECT_BYTES)) ||
            FAILED(f->RegisterTemplates(const_cast<char*>(XTEMPLATES_EXTENDED), XTEMPLATES_EXTENDED_BYTES)))
            __builtin_trap();
        return f;
    }();
    return file;
}

volatile uint32_t sink;
int visits;

void Walk(IDirectXFileData* data, int depth) {
    if (++visits > 20000 || depth > 600) return;
    DWORD size = 0;
    void* bytes = nullptr;
    if (FAILED(data->GetData(nullptr, &size, &bytes))) __builtin_trap();
    uint32_t sum = 0;
    for (DWORD i = 0; i < size; ++i) sum += static_cast<const uint8_t*>(bytes)[i];
    const GUID* type = nullptr;
    data->GetType(&type);
    sum += type->Data1;
    char name[64];
    DWORD nameSize = sizeof name;
    if (SUCCEEDED(data->GetName(name, &nameSize))) sum += static_cast<uint8_t>(name[0]);
    // String members: the texture file name is the one a mesh reader reads.
    if (*type == TID_D3DRMTextureFilename && size >= sizeof(char*)) {
        const char* s;
        std::memcpy(&s, bytes, sizeof s);
        sum += static_cast<uint32_t>(std::strlen(s));
    }
    sink = sum;
    IDirectXFileObject* child = nullptr;
    while (SUCCEEDED(data->GetNextObject(&child))) {
        IDirectXFileData* childData = nullptr;
        IDirectXFileDataReference* reference = nullptr;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(&childData)))) {
            Walk(childData, depth + 1);
            childData->Release();
        } else if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference,
                                                   reinterpret_cast<void**>(&reference)))) {
            IDirectXFileData* target = nullptr;
            if (FAILED(reference->Resolve(&target))) __builtin_trap();
            Walk(target, depth + 1);
            target->Release();
            reference->Release();
        }
        child->Release();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IDirectXFile* file = TheFile();
    DXFILELOADMEMORY memory{const_cast<uint8_t*>(data), static_cast<DWORD>(size)};
    IDirectXFileEnumObject* enumObject = nullptr;
    if (FAILED(file->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, &enumObject))) return 0;
    visits = 0;
    IDirectXFileData* object = nullptr;
    while (SUCCEEDED(enumObject->GetNextDataObject(&object))) {
        Walk(object, 0);
        object->Release();
    }
    enumObject->Release();
    return 0;
}
