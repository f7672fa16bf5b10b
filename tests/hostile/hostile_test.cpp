// Damaged libraries: truncated anywhere, corrupted at random, with lying counts, offsets and
// sizes, cyclic type descriptions and broken PE resource trees. Each must either fail to load
// with a status or load and survive a walk of everything it offers. Run under the sanitizers
// this also proves that nothing is read outside the data.
#include "damage.h"
#include "libwalk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;
using damage::Bytes;
using damage::Case;

// ---- a single allocation larger than this is a bug: sizes must be checked against the data --
static constexpr std::size_t kAllocLimit = std::size_t(256) << 20;

#if defined(__SANITIZE_ADDRESS__)
#define QUIBREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIBREL_ASAN 1
#endif
#endif

#ifdef QUIBREL_ASAN
// AddressSanitizer owns the allocator: let it refuse (and report) oversized requests.
extern "C" const char* __asan_default_options() { return "max_allocation_size=268435456"; }
#else
static void* GuardedAlloc(std::size_t n) {
    if (n > kAllocLimit) {
        std::fprintf(stderr, "unbounded allocation of %zu bytes\n", n);
        std::abort();
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n) { return GuardedAlloc(n); }
void* operator new[](std::size_t n) { return GuardedAlloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

// ---- when a case crashes under the sanitizers, say which and keep its bytes -----------------
static const Case* g_current = nullptr;

extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

static void ReportCurrentCase() {
    if (!g_current) return;
    fs::path keep = fs::path(QUIBREL_BINARY_DIR) / "hostile-crash.bin";
    std::fprintf(stderr, "\n*** damaged input: %s (bytes kept in %s)\n", g_current->what.c_str(), keep.c_str());
    libwalk::WriteFile(keep, g_current->bytes.data(), g_current->bytes.size());
}

class Hostile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(ReportCurrentCase);
    }

    void SetUp() override {
        dir_ = libwalk::ScratchRoot() / ("quibrel-hostile-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        // Damaged QuibrelTest copies find their import beside them, so imports are walked too.
        fs::copy_file(Fixture("QuibrelShared.tlb"), dir_ / "QuibrelShared.tlb", fs::copy_options::overwrite_existing);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static fs::path Fixture(const std::string& name) { return fs::path(QUIBREL_FIXTURE_DIR) / name; }
    static Bytes Read(const std::string& name) {
        Bytes b = libwalk::ReadFile(Fixture(name));
        EXPECT_FALSE(b.empty()) << "missing fixture " << name;
        return b;
    }

    // Each case loads or fails with a status; a loaded one is walked completely.
    void RunAll(const std::vector<Case>& cases, const std::string& fileName, const std::string& suffix = "") {
        int loaded = 0;
        auto start = std::chrono::steady_clock::now();
        for (const Case& c : cases) {
            g_current = &c;
            libwalk::Counts counts;
            HRESULT hr = libwalk::LoadAndWalk(dir_ / fileName, c.bytes.data(), c.bytes.size(), &counts, suffix);
            if (SUCCEEDED(hr)) ++loaded;
            else EXPECT_LT(hr, 0) << c.what;
        }
        g_current = nullptr;
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%zu damaged inputs, %d loaded, %.2fs\n", cases.size(), loaded, secs);
    }

    // The undamaged file must load: otherwise every case above "fails cleanly" for nothing.
    void ExpectLoads(const Bytes& good, const std::string& fileName, const std::string& suffix = "") {
        libwalk::Counts c;
        HRESULT hr = libwalk::LoadAndWalk(dir_ / fileName, good.data(), good.size(), &c, suffix);
        ASSERT_EQ(hr, S_OK) << "the undamaged " << fileName << " does not load";
        EXPECT_GT(c.types, 0u);
        EXPECT_EQ(c.failures, 0u) << "the undamaged " << fileName << " has items that fail";
    }

    fs::path dir_;
};

static std::vector<Case> Truncations(const Bytes& good, const std::string& name, std::size_t step = 1) {
    std::vector<Case> out;
    for (std::size_t len = 0; len < good.size(); len += step)
        out.push_back({name + " cut to " + std::to_string(len), Bytes(good.begin(), good.begin() + len)});
    return out;
}

TEST_F(Hostile, EveryTruncationOfALibrary) {
    Bytes good = Read("QuibrelShared.tlb");
    ExpectLoads(good, "Cut.tlb");
    RunAll(Truncations(good, "QuibrelShared.tlb"), "Cut.tlb");
}

TEST_F(Hostile, EveryTruncationOfADll) {
    Bytes good = Read("win32/QuibrelShared32.dll");
    ExpectLoads(good, "Cut.dll");
    RunAll(Truncations(good, "QuibrelShared32.dll"), "Cut.dll");
}

TEST_F(Hostile, TruncationsOfTheFullLibrary) {
    Bytes good = Read("QuibrelTest.tlb");
    ExpectLoads(good, "QuibrelTest.tlb");
    RunAll(Truncations(good, "QuibrelTest.tlb", 7), "QuibrelTest.tlb");
}

TEST_F(Hostile, LyingHeaderSegmentsAndTypeOffsets) {
    std::vector<Case> cases;
    for (const char* name : {"QuibrelTest.tlb", "win32/QuibrelTest.tlb"})
        damage::MsftDirectoryCases(Read(name), cases);
    ASSERT_GT(cases.size(), 300u);
    RunAll(cases, "QuibrelTest.tlb");
}

TEST_F(Hostile, LyingTypeAndMemberRecords) {
    std::mt19937 rng(20240611);
    std::vector<Case> cases;
    damage::MsftRecordCases(Read("QuibrelTest.tlb"), rng, 500, cases);
    damage::MsftRecordCases(Read("QuibrelEvents.tlb"), rng, 150, cases);
    ASSERT_EQ(cases.size(), 650u);
    RunAll(cases, "QuibrelTest.tlb");
}

TEST_F(Hostile, CyclicAndDanglingTypeDescriptionsNamesAndImports) {
    std::vector<Case> cases;
    damage::MsftTypeDescCases(Read("QuibrelTest.tlb"), cases);
    damage::MsftTypeDescCases(Read("win32/QuibrelTest.tlb"), cases);
    ASSERT_GT(cases.size(), 100u);
    RunAll(cases, "QuibrelTest.tlb");
}

TEST_F(Hostile, RandomByteCorruption) {
    std::mt19937 rng(7);
    std::vector<Case> cases;
    damage::FlipCases(Read("QuibrelTest.tlb"), rng, 300, "QuibrelTest.tlb", cases);
    damage::FlipCases(Read("QuibrelEvents.tlb"), rng, 100, "QuibrelEvents.tlb", cases);
    RunAll(cases, "QuibrelTest.tlb");
    std::vector<Case> dll;
    damage::FlipCases(Read("win32/QuibrelShared32.dll"), rng, 150, "QuibrelShared32.dll", dll);
    RunAll(dll, "Flipped.dll");
}

TEST_F(Hostile, DamagedPeHeadersAndResourceTrees) {
    std::vector<Case> cases;
    Bytes pe32 = Read("win32/QuibrelShared32.dll");
    Bytes pair = Read("QuibrelPair.dll");
    ASSERT_GE(damage::ParsePe(pe32).resourceDir, 0) << "no resource tree found in the fixture";
    damage::PeCases(pe32, "QuibrelShared32.dll", cases);
    damage::PeCases(pair, "QuibrelPair.dll", cases);
    ASSERT_GT(cases.size(), 200u);
    RunAll(cases, "Damaged.dll");
    // The same damage, asking for the second library.
    std::vector<Case> second;
    damage::PeCases(pair, "QuibrelPair.dll \\2", second);
    RunAll(second, "Damaged.dll", "\\2");
}

TEST_F(Hostile, NotALibraryAtAll) {
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}});
    cases.push_back({"MSFT magic only", Bytes{'M', 'S', 'F', 'T'}});
    cases.push_back({"SLTG magic only", Bytes{'S', 'L', 'T', 'G'}});
    cases.push_back({"MZ only", Bytes{'M', 'Z'}});
    cases.push_back({"zeros", Bytes(4096, 0)});
    std::vector<Case> headers = cases;
    Bytes zeros(4096, 0);
    std::memcpy(zeros.data(), "MSFT", 4);
    headers.push_back({"MSFT then zeros", zeros});
    Bytes ones(4096, 0xFF);
    std::memcpy(ones.data(), "MSFT", 4);
    headers.push_back({"MSFT then 0xFF", ones});
    RunAll(headers, "Nothing.tlb");
    // None of these is a library.
    for (const Case& c : cases) {
        ITypeLib* lib = nullptr;
        libwalk::WriteFile(dir_ / "Nothing.tlb", c.bytes.data(), c.bytes.size());
        std::u16string path = Utf8ToUtf16((dir_ / "Nothing.tlb").string());
        EXPECT_TRUE(FAILED(LoadTypeLib(path.c_str(), &lib))) << c.what;
        EXPECT_EQ(lib, nullptr) << c.what;
        if (lib) lib->Release();
    }
}
