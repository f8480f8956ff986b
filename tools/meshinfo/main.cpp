// vintrel-meshinfo: loads a ".x" model as the program does and prints its
// mesh, attribute table and materials, and what ground probes hit on it.
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/geometry.h"
#include "platform/d3d9/offscreen_device.h"
#include "platform/win32/whole_file.h"
#include "platform/xfile/dxfile.h"

namespace {

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: vintrel-meshinfo FILE.x [--pick X Y Z]...\n"
                 "Loads FILE.x as the program does (system-memory buffers, attribute sort) and prints:\n"
                 "  vertices=N faces=N index=16|32 fvf=0x... stride=N materials=N\n"
                 "  bounds min=x,y,z max=x,y,z\n"
                 "  attribute id=... faceStart=... faceCount=... vertexStart=... vertexCount=...   (per entry)\n"
                 "  material i=... diffuse=r,g,b,a specular=r,g,b power=p emissive=r,g,b texture=NAME|-\n"
                 "--pick X Y Z casts a ray from (X, Y + 15, Z) straight down at subsets 0, 1, 2 ... until one\n"
                 "hits and prints: pick x= y= z= subset=S face=F u=U v=V height=H (subset=-1 height=0 on a miss).\n"
                 "A file that does not load prints error=0x<code> <reason> and exits with status 1.\n");
}

const char* Reason(HRESULT hr) {
    switch (hr) {
    case E_FAIL: return "malformed mesh data or no mesh in the file";
    case E_OUTOFMEMORY: return "out of memory";
    case D3DERR_INVALIDCALL: return "invalid data or arguments";
    case ERR_MESH_HAS_NO_DATA: return "mesh has no data";
    case ERR_INVALID_DATA: return "invalid data";
    case DXFILEERR_FILENOTFOUND: return "cannot open the file";
    case DXFILEERR_BADFILETYPE: return "not a .x file";
    case DXFILEERR_BADFILEVERSION: return "unsupported .x file version";
    case DXFILEERR_BADFILEFLOATSIZE: return "unsupported float size";
    case DXFILEERR_BADFILECOMPRESSIONTYPE: return "unsupported compression";
    case DXFILEERR_BADFILE:
    case DXFILEERR_PARSEERROR: return "malformed .x file";
    default: return (static_cast<DWORD>(hr) & 0xFFFF0000u) == 0x88760000u ? "file component error" : "load failed";
    }
}

IDirect3DDevice9* HeadlessDevice() { return CreateOffscreenDevice(16, 16); }

bool ParseFloat(const char* text, float* out) {
    char* end = nullptr;
    *out = std::strtof(text, &end);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const char* file = nullptr;
    std::vector<Vector3> picks;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            Usage(stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--pick")) {
            Vector3 p;
            if (i + 3 >= argc || !ParseFloat(argv[i + 1], &p.x) || !ParseFloat(argv[i + 2], &p.y) ||
                !ParseFloat(argv[i + 3], &p.z)) {
                std::fprintf(stderr, "vintrel-meshinfo: --pick needs three numbers\n");
                return 2;
            }
            picks.push_back(p);
            i += 3;
        } else if (!file) {
            file = argv[i];
        } else {
            Usage(stderr);
            return 2;
        }
    }
    if (!file) {
        Usage(stderr);
        return 2;
    }
    IDirect3DDevice9* device = HeadlessDevice();
    if (!device) {
        std::fprintf(stderr, "vintrel-meshinfo: no device\n");
        return 1;
    }
    Mesh* loaded = nullptr;
    DataBuffer* materials = nullptr;
    DWORD count = 0;
    HRESULT hr = LoadMeshFromXFile(file, OPT_VB_SYSTEMMEM | OPT_IB_SYSTEMMEM, device, nullptr, &materials, nullptr,
                                   &count, &loaded);
    Mesh* mesh = nullptr;
    if (SUCCEEDED(hr)) {
        hr = loaded->OptimizeIntoNewMesh(OPTIMIZE_ATTRIBUTE_SORT, nullptr, nullptr, nullptr, nullptr, &mesh);
        loaded->Release();
    }
    if (FAILED(hr)) {
        std::printf("error=0x%08X %s\n", static_cast<unsigned>(hr), Reason(hr));
        if (materials) materials->Release();
        device->Release();
        return 1;
    }

    std::printf("vertices=%u faces=%u index=%d fvf=0x%X stride=%u materials=%u\n", mesh->GetVertexCount(),
                mesh->GetFaceCount(), (mesh->GetCreationOptions() & OPT_32BIT_INDICES) ? 32 : 16,
                mesh->GetVertexFormat(), mesh->GetVertexStride(), count);
    float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    BYTE* v = nullptr;
    if (SUCCEEDED(mesh->LockVertices(D3DLOCK_READONLY, reinterpret_cast<void**>(&v)))) {
        for (DWORD i = 0; i < mesh->GetVertexCount(); ++i) {
            float p[3];
            std::memcpy(p, v + size_t{i} * mesh->GetVertexStride(), 12);
            for (int k = 0; k < 3; ++k) {
                if (p[k] < lo[k]) lo[k] = p[k];
                if (p[k] > hi[k]) hi[k] = p[k];
            }
        }
        mesh->UnlockVertices();
    }
    std::printf("bounds min=%g,%g,%g max=%g,%g,%g\n", lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
    DWORD entries = 0;
    mesh->CopyAttributeTable(nullptr, &entries);
    std::vector<AttributeRange> table(entries);
    mesh->CopyAttributeTable(table.data(), &entries);
    DWORD lastId = 0;
    for (const AttributeRange& r : table) {
        std::printf("attribute id=%u faceStart=%u faceCount=%u vertexStart=%u vertexCount=%u\n", r.AttribId,
                    r.FaceStart, r.FaceCount, r.VertexStart, r.VertexCount);
        if (r.AttribId > lastId) lastId = r.AttribId;
    }
    const MaterialEntry* m = static_cast<const MaterialEntry*>(materials->GetDataPointer());
    for (DWORD i = 0; i < count; ++i) {
        const D3DMATERIAL9& x = m[i].material;
        std::printf("material i=%u diffuse=%g,%g,%g,%g specular=%g,%g,%g power=%g emissive=%g,%g,%g texture=%s\n", i,
                    x.Diffuse.r, x.Diffuse.g, x.Diffuse.b, x.Diffuse.a, x.Specular.r, x.Specular.g, x.Specular.b,
                    x.Power, x.Emissive.r, x.Emissive.g, x.Emissive.b,
                    m[i].textureFilename ? m[i].textureFilename : "-");
    }
    int status = 0;
    for (const Vector3& p : picks) {
        const Vector3 origin{p.x, p.y + 15.0f, p.z}, down{0, -1, 0};
        long subset = -1;
        DWORD face = 0;
        float u = 0, vv = 0, distance = 0, height = 0;
        for (DWORD id = 0; id <= lastId && entries; ++id) {
            BOOL hit = FALSE;
            DataBuffer* all = nullptr;
            DWORD hits = 0;
            hr = IntersectRayWithMeshGroup(mesh, id, &origin, &down, &hit, &face, &u, &vv, &distance, &all, &hits);
            if (all) all->Release();
            if (FAILED(hr)) {
                std::fprintf(stderr, "vintrel-meshinfo: pick failed: 0x%08X\n", static_cast<unsigned>(hr));
                status = 1;
                break;
            }
            if (hit) {
                subset = static_cast<long>(id);
                height = origin.y - distance;
                break;
            }
        }
        if (subset < 0) face = 0, u = vv = 0;
        std::printf("pick x=%g y=%g z=%g subset=%ld face=%u u=%g v=%g height=%g\n", p.x, p.y, p.z, subset, face, u, vv,
                    height);
    }
    materials->Release();
    mesh->Release();
    device->Release();
    if (!FlushStdout("vintrel-meshinfo")) return 1;
    return status;
}
