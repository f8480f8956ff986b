// Choosing the variant set: trampolines, registry switches, processor
// features, the allocator check, and the MMX query.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "geometry/math_dispatch.h"
#include "math_test_support.h"
#include "platform/win32/windows.h"

namespace {

// The processor the selection sees.
struct FakeProcessor {
    DWORD maxLeaf = 1;
    DWORD leaf1Eax = 0x00000600;  // family 6
    DWORD leaf1Edx = 0;
    DWORD maxExtended = 0x80000001u;
    DWORD extended1Edx = 0;
};
FakeProcessor fake;
int cpuidCalls = 0;

bool AnswerCpuid(DWORD leaf, CpuidRegisters* out) {
    ++cpuidCalls;
    *out = {0, 0, 0, 0};
    if (leaf == 0) out->eax = fake.maxLeaf;
    if (leaf == 1 && fake.maxLeaf >= 1) *out = {fake.leaf1Eax, 0, 0, fake.leaf1Edx};
    if (leaf == 0x80000000u) out->eax = fake.maxExtended;
    if (leaf == 0x80000001u && fake.maxExtended >= 0x80000001u) out->edx = fake.extended1Edx;
    return true;
}

constexpr DWORD kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;
constexpr DWORD k3DNow = 1u << 31, k3DNowExtended = 1u << 30, kMmxExtended = 1u << 22;

std::vector<std::string> debugLines;
void CaptureDebug(const char* text, void*) {
    debugLines.emplace_back(text);
}

class Selection : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeProcessor{};
        previousHook_ = SetCpuidHookForTesting(&AnswerCpuid);
        SetDebugOutputHookForTesting(&CaptureDebug, nullptr);
        debugLines.clear();
        ::unsetenv("VINTREL_REG_DISABLEPSGP");
        ::unsetenv("VINTREL_REG_DISABLEGEOMETRYPSGP");
        ::unsetenv("VINTREL_REG_DISABLEMMX");
        ResetMathVariantsForTesting();
        ResetMmxAvailabilityForTesting();
        MathDispatchTable probe = PortableMathVariants();
        simd_ = InstallSse2MathVariants(&probe);
    }
    void TearDown() override {
        SetCpuidHookForTesting(previousHook_);
        SetDebugOutputHookForTesting(nullptr, nullptr);
        SetZeroByteAllocatorForTesting(nullptr, nullptr);
        ::unsetenv("VINTREL_REG_DISABLEPSGP");
        ::unsetenv("VINTREL_REG_DISABLEGEOMETRYPSGP");
        ::unsetenv("VINTREL_REG_DISABLEMMX");
        ResetMathVariantsForTesting();
        ResetMmxAvailabilityForTesting();
    }

    // Runs the selection through a public operation and checks its result.
    DWORD Select() {
        Matrix a, b, product;
        BuildScalingMatrix(&a, 2, 3, 4);
        BuildTranslationMatrix(&b, 1, 2, 3);
        MultiplyMatrices(&product, &a, &b);
        EXPECT_EQ(product.m[3][0], 1.0f);
        EXPECT_EQ(product.m[1][1], 3.0f);
        return GetMathVariantState();
    }

    static bool Same(int entry, const MathDispatchTable& expected) {
        return MathEntryAddress(mathDispatchTable, entry) == MathEntryAddress(expected, entry);
    }

    static MathDispatchTable Expected(bool (*install)(MathDispatchTable*)) {
        MathDispatchTable t = PortableMathVariants();
        InstallX87MathVariants(&t);
        if (install) install(&t);
        return t;
    }

    void ExpectWholeTable(const MathDispatchTable& expected) {
        for (int entry = 0; entry < MATH_ENTRY_COUNT; ++entry)
            EXPECT_TRUE(Same(entry, expected)) << "entry " << entry;
    }

    bool simd_ = false;
    CpuidHook previousHook_ = nullptr;
};

TEST_F(Selection, TrampolinesSelectOnFirstUseAndForwardTheCall) {
    EXPECT_EQ(GetMathVariantState(), MATH_STATE_UNINITIALISED);
    for (int entry = 0; entry < MATH_ENTRY_COUNT; ++entry)
        EXPECT_NE(MathEntryAddress(mathDispatchTable, entry),
                  MathEntryAddress(PortableMathVariants(), entry));
    // A trampoline with a scalar result.
    Matrix m;
    BuildScalingMatrix(&m, 2, 3, 4);  // selects
    EXPECT_NE(GetMathVariantState(), MATH_STATE_UNINITIALISED);
    EXPECT_EQ(ComputeDeterminant(&m), 24.0f);

    ResetMathVariantsForTesting();
    EXPECT_EQ(ComputeDeterminant(&m), 24.0f);  // through its own trampoline
    EXPECT_NE(GetMathVariantState(), MATH_STATE_UNINITIALISED);

    ResetMathVariantsForTesting();
    Quaternion q{0, 0, 0, 1};
    Vector3 axis{9, 9, 9};
    float angle = 9;
    QuaternionToAxisAndAngle(&axis, &angle, &q);  // one without a result
    EXPECT_EQ(angle, 0.0f);
    EXPECT_EQ(axis.x, 0.0f);
    EXPECT_NE(GetMathVariantState(), MATH_STATE_UNINITIALISED);

    // Filled once: a second selection changes nothing, even if the
    // processor now looks different.
    MathDispatchTable before = mathDispatchTable;
    fake.leaf1Edx = 0;
    SelectMathVariants();
    for (int entry = 0; entry < MATH_ENTRY_COUNT; ++entry)
        EXPECT_EQ(MathEntryAddress(mathDispatchTable, entry), MathEntryAddress(before, entry));
}

TEST_F(Selection, FollowsTheProcessorFeatures) {
    fake.leaf1Edx = kMmx | kSse | kSse2;
    EXPECT_EQ(Select(), simd_ ? MATH_STATE_SSE2 : MATH_STATE_PORTABLE);
    ExpectWholeTable(Expected(simd_ ? &InstallSse2MathVariants : nullptr));
    if (simd_) {
        // Entries no set replaces stay portable; the quaternion inverse too.
        EXPECT_TRUE(Same(26, PortableMathVariants()));
        EXPECT_TRUE(Same(33, PortableMathVariants()));
        EXPECT_TRUE(Same(44, PortableMathVariants()));
        EXPECT_FALSE(Same(3, PortableMathVariants()));
        EXPECT_FALSE(Same(63, PortableMathVariants()));
    }

    ResetMathVariantsForTesting();
    fake.leaf1Edx = kMmx | kSse;
    EXPECT_EQ(Select(), simd_ ? MATH_STATE_SSE : MATH_STATE_PORTABLE);
    ExpectWholeTable(Expected(simd_ ? &InstallSseMathVariants : nullptr));

    ResetMathVariantsForTesting();
    fake.leaf1Edx = kMmx;
    EXPECT_EQ(Select(), MATH_STATE_PORTABLE);
    MathDispatchTable x87 = Expected(nullptr);
    ExpectWholeTable(x87);
    for (int entry : {0, 1, 2, 3, 4, 5, 6, 7, 34})
        EXPECT_FALSE(Same(entry, PortableMathVariants())) << entry;
    // Entry 34 shares the 4-vector transform of the x87 set.
    Plane p{1, 2, 3, 4}, transformed;
    Matrix m;
    BuildTranslationMatrix(&m, 1, 1, 1);
    TransformPlane(&transformed, &p, &m);
    EXPECT_EQ(transformed.a, 1.0f + 4.0f);
    EXPECT_EQ(transformed.d, 4.0f);

    // A maximum cpuid leaf of zero means no features at all.
    ResetMathVariantsForTesting();
    fake.maxLeaf = 0;
    fake.leaf1Edx = kMmx | kSse | kSse2;
    EXPECT_EQ(Select(), MATH_STATE_PORTABLE);
}

TEST_F(Selection, RegistrySwitches) {
    fake.leaf1Edx = kMmx | kSse | kSse2;
    const DWORD vector = simd_ ? MATH_STATE_SSE2 : MATH_STATE_PORTABLE;
    struct Case {
        const char* disable;
        const char* geometry;
        DWORD state;
    };
    const Case cases[] = {
        {nullptr, nullptr, vector},
        {"1", nullptr, MATH_STATE_PORTABLE},
        {"0", "1", MATH_STATE_PORTABLE},  // the geometry switch wins
        {"1", "0", vector},
        {nullptr, "1", MATH_STATE_PORTABLE},
        {"2", nullptr, vector},
        {"0x1", nullptr, MATH_STATE_PORTABLE},
        {"yes", nullptr, vector},  // not a DWORD: as if absent
        {"1", "off", MATH_STATE_PORTABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.disable ? c.disable : "-") + "/" +
                     (c.geometry ? c.geometry : "-"));
        if (c.disable)
            ::setenv("VINTREL_REG_DISABLEPSGP", c.disable, 1);
        else
            ::unsetenv("VINTREL_REG_DISABLEPSGP");
        if (c.geometry)
            ::setenv("VINTREL_REG_DISABLEGEOMETRYPSGP", c.geometry, 1);
        else
            ::unsetenv("VINTREL_REG_DISABLEGEOMETRYPSGP");
        ResetMathVariantsForTesting();
        EXPECT_EQ(Select(), c.state);
    }
}

TEST_F(Selection, ThreeDNowComesFirstUnlessSwitchedToTwo) {
    fake.leaf1Edx = kMmx | kSse | kSse2;
    fake.extended1Edx = k3DNow | k3DNowExtended | kMmxExtended;
    EXPECT_EQ(ComputeProcessorFeatureFlags(),
              0x1u | 0x2u | 0x4u | 0x20u | 0x40u | 0x80u | 0x100u | 0x200u);
    EXPECT_EQ(Select(), MATH_STATE_3DNOW);
    // The 3DNow! range runs portable code here; the array entries take the
    // SSE forms where there are any; entry 39 is left as it was.
    MathDispatchTable sse = Expected(simd_ ? &InstallSseMathVariants : nullptr);
    EXPECT_TRUE(Same(3, PortableMathVariants()));
    EXPECT_TRUE(Same(39, PortableMathVariants()));
    EXPECT_TRUE(Same(63, sse));
    EXPECT_TRUE(Same(68, sse));
    EXPECT_TRUE(Same(66, PortableMathVariants()));

    // Switch 2 passes over 3DNow! to SSE2 (or SSE).
    ::setenv("VINTREL_REG_DISABLEPSGP", "2", 1);
    ResetMathVariantsForTesting();
    EXPECT_EQ(Select(), simd_ ? MATH_STATE_SSE2 : MATH_STATE_PORTABLE);
    fake.leaf1Edx = kMmx | kSse;
    ResetMathVariantsForTesting();
    EXPECT_EQ(Select(), simd_ ? MATH_STATE_SSE : MATH_STATE_PORTABLE);
    // Switch 1 stops before everything.
    ::setenv("VINTREL_REG_DISABLEPSGP", "1", 1);
    ResetMathVariantsForTesting();
    EXPECT_EQ(Select(), MATH_STATE_PORTABLE);

    // 3DNow! without MMX keeps the x87 forms in the 3DNow! range.
    ::unsetenv("VINTREL_REG_DISABLEPSGP");
    fake.leaf1Edx = 0;
    ResetMathVariantsForTesting();
    EXPECT_EQ(Select(), MATH_STATE_3DNOW);
    EXPECT_TRUE(Same(3, Expected(nullptr)));
    EXPECT_TRUE(Same(63, PortableMathVariants()));
}

TEST_F(Selection, ProcessorFeatureFlagsStopWhereCpuidEnds) {
    fake.maxLeaf = 0;
    EXPECT_EQ(ComputeProcessorFeatureFlags(), 0x1u);
    fake.maxLeaf = 1;
    fake.leaf1Edx = kMmx | kSse;
    fake.maxExtended = 0x80000000u;
    fake.extended1Edx = k3DNow;
    EXPECT_EQ(ComputeProcessorFeatureFlags(), 0x1u | 0x2u | 0x20u | 0x40u);
    fake.maxExtended = 0x80000008u;
    EXPECT_EQ(ComputeProcessorFeatureFlags(), 0x1u | 0x2u | 0x4u | 0x20u | 0x40u | 0x80u);
}

void* NullBlock() {
    return nullptr;
}
char sharedBlock;
void* SharedBlock() {
    return &sharedBlock;
}
int releases = 0, nullReleases = 0;
void CountRelease(void* p) {
    ++releases;
    if (!p) ++nullReleases;
}

TEST_F(Selection, WarnsOnceAboutNonConformingAllocators) {
    Select();
    EXPECT_TRUE(debugLines.empty());  // the real allocator conforms

    const std::vector<std::string> warning = {
        "GEOM: (WARN) Overloaded ::new and ::delete operators do not conform to C++ standards:\r\n",
        "GEOM: (WARN) An allocation of zero bytes should return a unique non-null pointer to "
        "at\r\n",
        "GEOM: (WARN) least zero bytes. Deletion of a null pointer should quietly do nothing.\r\n",
        "GEOM: (WARN) The geometry library relies upon this behavior.\r\n"};
    for (auto allocate : {&NullBlock, &SharedBlock}) {
        ResetMathVariantsForTesting();
        debugLines.clear();
        releases = nullReleases = 0;
        SetZeroByteAllocatorForTesting(allocate, &CountRelease);
        EXPECT_NE(Select(), MATH_STATE_UNINITIALISED);
        EXPECT_EQ(debugLines, warning);
        EXPECT_GE(nullReleases, 1);  // a null pointer is deleted
        EXPECT_EQ(releases, 2);      // one block (shared or null) and the null pointer
        SelectMathVariants();        // once only
        EXPECT_EQ(debugLines.size(), 4u);
    }
}

TEST_F(Selection, RegistryReadsOnlyDwords) {
    DWORD value = 77;
    EXPECT_FALSE(ReadDirect3DRegistryDword("DisablePSGP", &value));
    EXPECT_EQ(value, 77u);
    ::setenv("VINTREL_REG_DISABLEPSGP", "on", 1);  // a short string fits 4 bytes
    EXPECT_FALSE(ReadDirect3DRegistryDword("DisablePSGP", &value));
    EXPECT_EQ(value, 77u);
    ::setenv("VINTREL_REG_DISABLEPSGP", "0x10", 1);
    EXPECT_TRUE(ReadDirect3DRegistryDword("DisablePSGP", &value));
    EXPECT_EQ(value, 16u);
}

TEST_F(Selection, MmxAnswerCachesTheProcessorButNotTheRegistry) {
    fake.leaf1Edx = kMmx;
    EXPECT_EQ(IsMmxAvailable(), 1);
    fake.leaf1Edx = 0;  // the processor is asked only once
    EXPECT_EQ(IsMmxAvailable(), 1);
    ::setenv("VINTREL_REG_DISABLEMMX", "1", 1);  // the registry on every call
    EXPECT_EQ(IsMmxAvailable(), 0);
    ::setenv("VINTREL_REG_DISABLEMMX", "0", 1);
    EXPECT_EQ(IsMmxAvailable(), 0);  // the switch left the cached answer at 0

    ResetMmxAvailabilityForTesting();
    ::unsetenv("VINTREL_REG_DISABLEMMX");
    fake.leaf1Edx = kMmx;
    fake.leaf1Eax = 0x00000400;  // family 4: too old
    EXPECT_EQ(IsMmxAvailable(), 0);
    ResetMmxAvailabilityForTesting();
    fake.leaf1Eax = 0x00000500;
    fake.leaf1Edx = 0;
    EXPECT_EQ(IsMmxAvailable(), 0);
    ResetMmxAvailabilityForTesting();
    fake.leaf1Edx = kMmx;
    EXPECT_EQ(IsMmxAvailable(), 1);
}

}  // namespace
