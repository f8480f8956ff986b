#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

namespace {

TEST(ResultCodes, MatchThePlatformValues) {
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)), 0x8007007Eu);
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(static_cast<DWORD>(D3DERR_INVALIDCALL), 0x8876086Cu);
    EXPECT_EQ(static_cast<DWORD>(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_EQ(static_cast<DWORD>(MAKE_HRESULT(1, 0x876, 2154)), 0x8876086Au);
}

TEST(Registry, ReadsDwordsAndStringsFromTheEnvironment) {
    ::setenv("VINTREL_REG_DISABLEPSGP", "0x2", 1);
    ::setenv("VINTREL_REG_SOMENAME", "hello", 1);
    ::unsetenv("VINTREL_REG_ABSENT");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Direct3D", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0, value = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "DisablePSGP", nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 2u);

    char text[16];
    size = 3;  // too small: reports what it needs
    EXPECT_EQ(RegQueryValueExA(key, "SomeName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 6u);
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExA(key, "SomeName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, &type, nullptr, &size),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);  // already closed
    ::unsetenv("VINTREL_REG_DISABLEPSGP");
    ::unsetenv("VINTREL_REG_SOMENAME");
}

TEST(Registry, NumbersOutOfRangeOrMalformedAreStrings) {
    for (const char* text : {"4294967296", "0x12g", "0x0x5", "0x", "0x-5", "0x 5", "12 ", "1e3"}) {
        ::setenv("VINTREL_REG_ODD", text, 1);
        DWORD type = 0, size = 0;
        EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "Odd", nullptr, &type, nullptr, &size), 0) << text;
        EXPECT_EQ(type, REG_SZ) << text;
    }
    ::unsetenv("VINTREL_REG_ODD");
}

// A pretend processor: SSE and SSE2, no extended leaves.
bool PretendSse2(DWORD leaf, CpuidRegisters* out) {
    if (leaf == 0) *out = {1, 0, 0, 0};
    else if (leaf == 1) *out = {0x00000F29, 0, 0, (1u << 23) | (1u << 25) | (1u << 26)};
    else *out = {0, 0, 0, 0};
    return true;
}
bool PretendNoCpuid(DWORD, CpuidRegisters* out) {
    *out = {0, 0, 0, 0};
    return true;
}

TEST(Processor, FeaturesFollowCpuidAndTheHook) {
    CpuidHook previous = SetCpuidHookForTesting(PretendSse2);
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE));
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_MMX_INSTRUCTIONS_AVAILABLE));
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorLevel, 15);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_GE(info.dwNumberOfProcessors, 1u);

    // A zero maximum leaf means no features at all.
    SetCpuidHookForTesting(PretendNoCpuid);
    EXPECT_FALSE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    SetCpuidHookForTesting(previous);
#if defined(__x86_64__)
    EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));  // every x86-64 has SSE2
#endif
}

struct Captured {
    std::string text;
};
void Capture(const char* text, void* context) { static_cast<Captured*>(context)->text += text; }

TEST(DebugOutput, ReachesTheTestHook) {
    Captured captured;
    SetDebugOutputHookForTesting(Capture, &captured);
    OutputDebugStringA("one ");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("two");
    SetDebugOutputHookForTesting(nullptr, nullptr);
    OutputDebugStringA("three");
    EXPECT_EQ(captured.text, "one two");
}

std::string TempPath(const char* name) {
    return std::string(::testing::TempDir()) + "vintrel_" + std::to_string(::getpid()) + "_" + name;
}

TEST(FileMapping, MapsWholeFilesReadOnly) {
    std::string path = TempPath("mapped.bin");
    {
        std::ofstream out(path, std::ios::binary);
        out << "mapped bytes";
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_RANDOM_ACCESS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), 12u);
    EXPECT_EQ(high, 0u);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::memcmp(view, "mapped bytes", 12), 0);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    std::remove(path.c_str());
}

TEST(FileMapping, EmptyFileGivesANullViewAndMissingFileFails) {
    std::string path = TempPath("empty.bin");
    { std::ofstream out(path, std::ios::binary); }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(mapping);
    CloseHandle(file);
    std::remove(path.c_str());

    EXPECT_EQ(CreateFileA((path + ".absent").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileSize(nullptr, nullptr), INVALID_FILE_SIZE);
}

int Twice(int v) { return 2 * v; }

TEST(Modules, BuiltinModulesAndMissingLibraries) {
    RegisterBuiltinModule("testmod.dll", {{"Twice", reinterpret_cast<void*>(&Twice)}});
    HMODULE module = LoadLibraryA("TESTMOD.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleA("testmod"), module);
    auto twice = reinterpret_cast<int (*)(int)>(GetProcAddress(module, "Twice"));
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice(21), 42);
    EXPECT_EQ(GetProcAddress(module, "Thrice"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(module));

    EXPECT_EQ(LoadLibraryA("no_such_module_here.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
}

TEST(Resources, LookUpByIdAndNameWithoutCase) {
    ClearResourcesForTesting();
    static const char wave[] = "RIFF";
    static const char other[] = "other";
    const ResourceRecord records[] = {
        {"WAVE", "ENGINE", wave, 4},
        {RT_RCDATA, MAKEINTRESOURCEA(7), other, 5},
    };
    RegisterResources(records, 2);
    HRSRC r = FindResourceA(nullptr, "engine", "wave");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 4u);
    EXPECT_EQ(LockResource(LoadResource(nullptr, r)), wave);
    EXPECT_NE(FindResourceA(GetModuleHandleA(nullptr), "#7", RT_RCDATA), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, "ENGINE", "WAV"), nullptr);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(8), RT_RCDATA), nullptr);
    ClearResourcesForTesting();
}

int AnswerNo(HWND, const char*, const char*, UINT) { return IDNO; }

TEST(MessageBox, DefaultAnswersAndHandler) {
    EXPECT_EQ(MessageBoxA(nullptr, "text", "Error", MB_OK), IDOK);
    MessageBoxHandler previous = SetMessageBoxHandler(AnswerNo);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "Error", MB_YESNO), IDNO);
    SetMessageBoxHandler(previous);
}

}  // namespace
