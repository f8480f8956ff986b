#include "geometry/math_dispatch.h"

#include <cstring>
#include <new>

#include "platform/win32/windows.h"

namespace {

// The first call of any operation lands here, chooses the variants and goes
// on to the chosen one with the caller's arguments.
namespace trampoline {
#define VINTREL_MATH_TRAMPOLINE(index, name, result, params, args) \
    result name params {                                           \
        SelectMathVariants();                                      \
        return mathDispatchTable.name args;                        \
    }
VINTREL_MATH_ENTRIES(VINTREL_MATH_TRAMPOLINE)
#undef VINTREL_MATH_TRAMPOLINE
}  // namespace trampoline

constexpr MathDispatchTable trampolineTable = {
#define VINTREL_MATH_ADDRESS(index, name, result, params, args) &trampoline::name,
    VINTREL_MATH_ENTRIES(VINTREL_MATH_ADDRESS)
#undef VINTREL_MATH_ADDRESS
};

constexpr MathDispatchTable portableTable = {
#define VINTREL_MATH_ADDRESS(index, name, result, params, args) &math_portable::name,
    VINTREL_MATH_ENTRIES(VINTREL_MATH_ADDRESS)
#undef VINTREL_MATH_ADDRESS
};

// The entry numbers are part of the interface; a member out of place would
// break every caller that indexes the table.
#define VINTREL_MATH_CHECK_ORDER(index, name, result, params, args) \
    static_assert(offsetof(MathDispatchTable, name) == (index) * sizeof(void (*)()));
VINTREL_MATH_ENTRIES(VINTREL_MATH_CHECK_ORDER)
#undef VINTREL_MATH_CHECK_ORDER

DWORD mathState = MATH_STATE_UNINITIALISED;
bool allocatorChecked = false;

void* AllocateZeroBytes() {
    return ::operator new[](0, std::nothrow);
}
void ReleaseBlock(void* block) {
    ::operator delete[](block);
}
ZeroByteAllocator zeroByteAllocate = &AllocateZeroBytes;
ZeroByteDeallocator zeroByteRelease = &ReleaseBlock;

const char kDirect3DKey[] = "Software\\Microsoft\\Direct3D";

bool Leaf1Reports(int edxBit) {
    if (QueryCpuid(0).eax == 0) return false;
    return (QueryCpuid(1).edx >> edxBit) & 1u;
}

}  // namespace

MathDispatchTable mathDispatchTable = trampolineTable;

// The public operations: one jump through their entry each.
#define VINTREL_MATH_FORWARDER(index, name, result, params, args) \
    result name params {                                          \
        return mathDispatchTable.name args;                       \
    }
VINTREL_MATH_ENTRIES(VINTREL_MATH_FORWARDER)
#undef VINTREL_MATH_FORWARDER

const MathDispatchTable& PortableMathVariants() {
    return portableTable;
}

const void* MathEntryAddress(const MathDispatchTable& table, int index) {
    if (index < 0 || index >= MATH_ENTRY_COUNT) return nullptr;
    void (*entry)();
    std::memcpy(&entry, reinterpret_cast<const char*>(&table) + index * sizeof entry, sizeof entry);
    return reinterpret_cast<const void*>(entry);
}

DWORD GetMathVariantState() {
    return mathState;
}

void CheckAllocatorConformance() {
    if (allocatorChecked) return;
    allocatorChecked = true;
    void* first = zeroByteAllocate();
    void* second = zeroByteAllocate();
    if (!first || !second || first == second) {
        OutputDebugStringA(
            "GEOM: (WARN) Overloaded ::new and ::delete operators do not conform to C++ "
            "standards:\r\n");
        OutputDebugStringA(
            "GEOM: (WARN) An allocation of zero bytes should return a unique non-null pointer "
            "to at\r\n");
        OutputDebugStringA(
            "GEOM: (WARN) least zero bytes. Deletion of a null pointer should quietly do "
            "nothing.\r\n");
        OutputDebugStringA("GEOM: (WARN) The geometry library relies upon this behavior.\r\n");
    }
    // One block twice would be a double free; a shared address is freed once.
    zeroByteRelease(first);
    if (second != first) zeroByteRelease(second);
    zeroByteRelease(nullptr);
}

bool ReadDirect3DRegistryDword(const char* name, DWORD* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDirect3DKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD) return false;
    *out = value;
    return true;
}

DWORD ComputeProcessorFeatureFlags() {
    DWORD flags = PROCESSOR_FLAG_BASE;
    if (QueryCpuid(0).eax == 0) return flags;
    flags |= PROCESSOR_FLAG_CPUID;
    DWORD edx = QueryCpuid(1).edx;
    if (edx & (1u << 23)) flags |= PROCESSOR_FLAG_MMX;
    if (edx & (1u << 25)) flags |= PROCESSOR_FLAG_SSE;
    if (QueryCpuid(0x80000000u).eax <= 0x80000000u) return flags;
    flags |= PROCESSOR_FLAG_EXTENDED_CPUID;
    DWORD extended = QueryCpuid(0x80000001u).edx;
    if (extended & (1u << 31)) flags |= PROCESSOR_FLAG_3DNOW;
    if (extended & (1u << 30)) flags |= PROCESSOR_FLAG_3DNOW_EXTENDED;
    if (extended & (1u << 22)) flags |= PROCESSOR_FLAG_MMX_EXTENDED;
    return flags;
}

// The 3DNow! forms themselves are not built for this platform (64-bit
// processors do not offer the instructions); the entries they would take
// get the portable forms, which compute the same results, and the array
// entries get the SSE forms where the processor has SSE.
void InstallThreeDNowMathVariants(MathDispatchTable* table) {
    DWORD flags = ComputeProcessorFeatureFlags();
    if ((flags & PROCESSOR_FLAG_MMX) && (flags & PROCESSOR_FLAG_3DNOW)) {
        const MathDispatchTable saved = *table;
        *table = portableTable;
        table->BuildTransformationMatrix = saved.BuildTransformationMatrix;  // entry 39 stays
        for (int index = 59; index < MATH_ENTRY_COUNT; ++index) {
            // Entries 59 and up are outside the 3DNow! range.
            std::memcpy(reinterpret_cast<char*>(table) + index * sizeof(void (*)()),
                        reinterpret_cast<const char*>(&saved) + index * sizeof(void (*)()),
                        sizeof(void (*)()));
        }
    }
    if (flags & PROCESSOR_FLAG_SSE) {
        MathDispatchTable sse = *table;
        if (InstallSseMathVariants(&sse)) {
            table->TransformVector2Array = sse.TransformVector2Array;
            table->TransformPoint2Array = sse.TransformPoint2Array;
            table->TransformNormal2Array = sse.TransformNormal2Array;
            table->TransformVector3Array = sse.TransformVector3Array;
            table->TransformPoint3Array = sse.TransformPoint3Array;
            table->TransformNormal3Array = sse.TransformNormal3Array;
            table->TransformVector4Array = sse.TransformVector4Array;
            table->TransformPlaneArray = sse.TransformPlaneArray;
        }
    }
}

void SelectMathVariants() {
    CheckAllocatorConformance();
    if (mathState != MATH_STATE_UNINITIALISED) return;
    mathState = MATH_STATE_PORTABLE;

    MathDispatchTable table = portableTable;
    InstallX87MathVariants(&table);

    DWORD disable = 0;
    if (!ReadDirect3DRegistryDword("DisablePSGP", &disable)) disable = 0;
    DWORD geometryOnly = 0;
    if (ReadDirect3DRegistryDword("DisableGeometryPSGP", &geometryOnly)) disable = geometryOnly;

    if (disable != 1) {
        if (disable != 2 && IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE)) {
            InstallThreeDNowMathVariants(&table);
            mathState = MATH_STATE_3DNOW;
        } else if (Leaf1Reports(26) && InstallSse2MathVariants(&table)) {
            mathState = MATH_STATE_SSE2;
        } else if (IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) &&
                   InstallSseMathVariants(&table)) {
            mathState = MATH_STATE_SSE;
        }
    }
    // Filled in one go, so no entry ever points to a half-chosen set.
    mathDispatchTable = table;
}

void ResetMathVariantsForTesting() {
    mathDispatchTable = trampolineTable;
    mathState = MATH_STATE_UNINITIALISED;
    allocatorChecked = false;
}

void SetZeroByteAllocatorForTesting(ZeroByteAllocator allocate, ZeroByteDeallocator release) {
    zeroByteAllocate = allocate ? allocate : &AllocateZeroBytes;
    zeroByteRelease = release ? release : &ReleaseBlock;
}

namespace {
int mmxAvailable = -1;
}

int IsMmxAvailable() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDirect3DKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        DWORD value = 0;
        DWORD size = sizeof value;
        LONG status = RegQueryValueExA(key, "DisableMMX", nullptr, &type,
                                       reinterpret_cast<LPBYTE>(&value), &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS && type == REG_DWORD && value != 0) {
            mmxAvailable = 0;
            return 0;
        }
    }
    if (mmxAvailable == -1) {
        mmxAvailable = 0;
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL &&
            info.wProcessorLevel >= 5 && Leaf1Reports(23))
            mmxAvailable = 1;
    }
    return mmxAvailable;
}

void ResetMmxAvailabilityForTesting() {
    mmxAvailable = -1;
}
