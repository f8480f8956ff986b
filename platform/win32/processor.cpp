#include "platform/win32/processor.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {
std::atomic<CpuidHook> cpuidHook{nullptr};

CpuidRegisters RealCpuid(DWORD leaf) {
    CpuidRegisters r{0, 0, 0, 0};
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    unsigned maxLeaf = __get_cpuid_max(leaf & 0x80000000u, nullptr);
    if (maxLeaf != 0 && leaf <= maxLeaf) {
        __cpuid_count(leaf, 0, a, b, c, d);
        r = {a, b, c, d};
    }
#else
    (void)leaf;
#endif
    return r;
}

bool Leaf1EdxBit(int bit) {
    if (QueryCpuid(0).eax == 0) return false;
    return (QueryCpuid(1).edx >> bit) & 1u;
}

bool Extended1EdxBit(int bit) {
    if (QueryCpuid(0x80000000u).eax <= 0x80000000u) return false;
    return (QueryCpuid(0x80000001u).edx >> bit) & 1u;
}
}  // namespace

CpuidRegisters QueryCpuid(DWORD leaf) {
    CpuidHook hook = cpuidHook.load();
    CpuidRegisters r;
    if (hook && hook(leaf, &r)) return r;
    return RealCpuid(leaf);
}

CpuidHook SetCpuidHookForTesting(CpuidHook hook) { return cpuidHook.exchange(hook); }

BOOL IsProcessorFeaturePresent(DWORD feature) {
    switch (feature) {
        case PF_COMPARE_EXCHANGE_DOUBLE: return Leaf1EdxBit(8);
        case PF_MMX_INSTRUCTIONS_AVAILABLE: return Leaf1EdxBit(23);
        case PF_XMMI_INSTRUCTIONS_AVAILABLE: return Leaf1EdxBit(25);
        case PF_3DNOW_INSTRUCTIONS_AVAILABLE: return Extended1EdxBit(31);
        case PF_RDTSC_INSTRUCTION_AVAILABLE: return Leaf1EdxBit(4);
        case PF_PAE_ENABLED: return Leaf1EdxBit(6);
        case PF_XMMI64_INSTRUCTIONS_AVAILABLE: return Leaf1EdxBit(26);
        case PF_SSE3_INSTRUCTIONS_AVAILABLE:
            return QueryCpuid(0).eax != 0 && (QueryCpuid(1).ecx & 1u);
        default: return FALSE;
    }
}

void GetSystemInfo(LPSYSTEM_INFO info) {
    if (!info) return;
    std::memset(info, 0, sizeof *info);
#if defined(__x86_64__) || defined(__i386__)
    // The program was a 32-bit x86 one, and a 32-bit process sees the
    // processor as x86 even on a 64-bit system; keep that view.
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
#else
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
    long page = sysconf(_SC_PAGESIZE);
    info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
    info->dwAllocationGranularity = 65536;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
    info->dwActiveProcessorMask =
        info->dwNumberOfProcessors >= sizeof(DWORD_PTR) * 8
            ? ~DWORD_PTR(0)
            : (DWORD_PTR(1) << info->dwNumberOfProcessors) - 1;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFull);
    if (QueryCpuid(0).eax != 0) {
        DWORD signature = QueryCpuid(1).eax;
        DWORD family = (signature >> 8) & 0xF;
        DWORD model = (signature >> 4) & 0xF;
        DWORD stepping = signature & 0xF;
        if (family == 0xF) family += (signature >> 20) & 0xFF;
        if (family >= 6) model |= ((signature >> 16) & 0xF) << 4;
        info->wProcessorLevel = static_cast<WORD>(family);
        info->wProcessorRevision = static_cast<WORD>((model << 8) | stepping);
        info->dwProcessorType = family >= 6 ? 586 : 386 + 100 * (family > 3 ? family - 3 : 0);
    }
}
