// Processor queries. Everything answers from cpuid, through one function a
// test can redirect to pretend another processor.
#pragma once

#include "platform/win32/types.h"

struct CpuidRegisters {
    DWORD eax, ebx, ecx, edx;
};

// cpuid of `leaf` (sub-leaf 0); all zero where the processor has no cpuid.
CpuidRegisters QueryCpuid(DWORD leaf);

// A hook answers in place of the processor; returning false falls back to
// the real instruction. Null removes it. Returns the previous hook.
using CpuidHook = bool (*)(DWORD leaf, CpuidRegisters* out);
CpuidHook SetCpuidHookForTesting(CpuidHook hook);

// Feature numbers as the platform numbers them.
constexpr DWORD PF_FLOATING_POINT_PRECISION_ERRATA = 0;
constexpr DWORD PF_FLOATING_POINT_EMULATED = 1;
constexpr DWORD PF_COMPARE_EXCHANGE_DOUBLE = 2;
constexpr DWORD PF_MMX_INSTRUCTIONS_AVAILABLE = 3;
constexpr DWORD PF_XMMI_INSTRUCTIONS_AVAILABLE = 6;    // SSE
constexpr DWORD PF_3DNOW_INSTRUCTIONS_AVAILABLE = 7;
constexpr DWORD PF_RDTSC_INSTRUCTION_AVAILABLE = 8;
constexpr DWORD PF_PAE_ENABLED = 9;
constexpr DWORD PF_XMMI64_INSTRUCTIONS_AVAILABLE = 10;  // SSE2
constexpr DWORD PF_SSE3_INSTRUCTIONS_AVAILABLE = 13;

BOOL IsProcessorFeaturePresent(DWORD feature);

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

// Architecture as a 32-bit x86 process sees it (INTEL on x86-64 too), the processor
// level and revision from the cpuid family, model and stepping.
void GetSystemInfo(LPSYSTEM_INFO info);
