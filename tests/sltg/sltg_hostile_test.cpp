// Damaged copies of the six SLTG libraries of the real-world collection: truncated anywhere,
// with lying values in every field of the small ones, corrupted at random, and a few damages
// made on purpose (endless pointer chains, absurd array bounds, a block chain that loops, a
// library that imports itself). Each must fail to load with a status, or load and survive a
// walk of everything it offers; under the sanitizers nothing may be read outside the data.
// Skipped when the collection is not there.
#include "../hostile/damage.h"
#include "../hostile/libwalk.h"
#include "platform/oleauto/typelib_load.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;
using damage::Bytes;
using damage::Case;

// ---- a single allocation larger than this is a bug: sizes must be checked against the data --
static constexpr std::size_t kAllocLimit = std::size_t(256) << 20;

static void* GuardedAlloc(std::size_t n) {
    if (n > kAllocLimit) {
        std::fprintf(stderr, "unbounded allocation of %zu bytes\n", n);
        std::abort();
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
static void* GuardedAllocNothrow(std::size_t n) noexcept {
    try {
        return GuardedAlloc(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new(std::size_t n) { return GuardedAlloc(n); }
void* operator new[](std::size_t n) { return GuardedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return GuardedAllocNothrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return GuardedAllocNothrow(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// ---- when a case crashes under the sanitizers, say which and keep its bytes -----------------
static const Case* g_current = nullptr;

extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

static void ReportCurrentCase() {
    if (!g_current) return;
    fs::path keep = fs::path(QUIBREL_BINARY_DIR) / "sltg-crash.bin";
    std::fprintf(stderr, "\n*** damaged input: %s (bytes kept in %s)\n", g_current->what.c_str(), keep.c_str());
    libwalk::WriteFile(keep, g_current->bytes.data(), g_current->bytes.size());
}

namespace {

const fs::path kFiles = fs::path(QUIBREL_TYPELIBS_DIR) / "files";
const char* const kSltgLibraries[] = {"stdole32.tlb", "olepro32.dll", "VBAEN32.OLB",
                                      "VBAEND32.OLB", "VEN2232.OLB", "ir41_32original.dll"};

std::uint16_t Get16(const Bytes& b, std::size_t at) { return std::uint16_t(b[at] | (b[at + 1] << 8)); }
std::uint32_t Get32(const Bytes& b, std::size_t at) { return Get16(b, at) | (std::uint32_t(Get16(b, at + 2)) << 16); }
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, std::uint16_t(v));
    Put16(b, at + 2, std::uint16_t(v >> 16));
}

// The blocks of an SLTG file in file order: (start, length).
std::vector<std::pair<std::size_t, std::size_t>> Blocks(const Bytes& b) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    std::size_t entries = Get16(b, 4) - 1u, at = 0x24 + entries * 8 + Get16(b, 8) + 9;
    for (std::size_t i = Get16(b, 10); i != 0 && out.size() < entries; i = Get16(b, 0x24 + (i - 1) * 8 + 6)) {
        std::size_t len = Get32(b, 0x24 + (i - 1) * 8);
        out.emplace_back(at, len);
        at += len;
    }
    return out;
}

class SltgHostile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(ReportCurrentCase);
    }
    void SetUp() override {
        if (!fs::is_directory(kFiles)) GTEST_SKIP() << "no real-world type libraries at " << kFiles.string() << ", skipped";
        dir_ = libwalk::ScratchRoot() / ("quibrel-sltg-hostile-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        // Imports are found and walked too.
        fs::copy_file(kFiles / "stdole32.tlb", dir_ / "stdole32.tlb", fs::copy_options::overwrite_existing);
    }
    void TearDown() override {
        if (tried_) TearDownReport();
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    static Bytes Read(const std::string& name) {
        Bytes b = libwalk::ReadFile(kFiles / name);
        EXPECT_GT(b.size(), 0x100u) << "missing " << name;
        return b;
    }

    // Loads a damaged copy (as if from the scratch folder, where its imports are) and walks it
    // when it loads; a failure must come with a status and no library.
    void Try(const Case& c) {
        g_current = &c;
        ITypeLib* raw = nullptr;
        HRESULT hr = tlb::LoadTypeLibFromBytes(c.bytes, (dir_ / "Damaged.tlb").string(), 0, &raw);
        ComPtr<ITypeLib> lib = ComPtr<ITypeLib>::Attach(raw);
        ++tried_;
        if (SUCCEEDED(hr)) {
            EXPECT_TRUE(lib) << c.what;
            if (lib) libwalk::WalkLibrary(lib.Get());
            ++loaded_;
        } else {
            EXPECT_EQ(raw, nullptr) << c.what;
        }
        g_current = nullptr;
    }
    void RunAll(const std::vector<Case>& cases) {
        for (const Case& c : cases) Try(c);
    }
    void TearDownReport() { std::printf("%zu damaged inputs, %zu loaded\n", tried_, loaded_); }

    std::size_t tried_ = 0, loaded_ = 0;
    fs::path dir_;
};

// The undamaged files load; otherwise every damaged copy "fails cleanly" for nothing.
TEST_F(SltgHostile, TheUndamagedLibrariesLoad) {
    for (const char* name : kSltgLibraries) {
        ITypeLib* raw = nullptr;
        ASSERT_EQ(tlb::LoadTypeLibFromBytes(Read(name), (dir_ / name).string(), 0, &raw), S_OK) << name;
        ComPtr<ITypeLib> lib = ComPtr<ITypeLib>::Attach(raw);
        libwalk::Counts c = libwalk::WalkLibrary(lib.Get());
        EXPECT_GT(c.funcs + c.vars, 20u) << name;
    }
}

TEST_F(SltgHostile, EveryTruncation) {
    for (const char* name : kSltgLibraries) {
        Bytes good = Read(name);
        for (std::size_t len = 0; len < good.size(); ++len)
            Try({std::string(name) + " cut to " + std::to_string(len), Bytes(good.begin(), good.begin() + len)});
    }
}

// Every 16-bit field the small libraries could have, at any byte position, made to lie. The
// imports are beside them under the names they record, so they are walked too.
TEST_F(SltgHostile, LyingValuesEverywhereInTheSmallLibraries) {
    fs::copy_file(kFiles / "stdole32.tlb", dir_ / "STDOLE32.TLB", fs::copy_options::overwrite_existing);
    for (const char* name : {"stdole32.tlb", "ir41_32original.dll"}) {
        Bytes good = Read(name);
        for (std::size_t at = 0; at + 2 <= good.size(); ++at) {
            std::uint16_t was = Get16(good, at);
            // Zero and all ones for counts and offsets, a pointer mark toggled for type words.
            for (std::uint16_t lie : {std::uint16_t(0), std::uint16_t(0xFFFF), std::uint16_t(was ^ 0x0E00)}) {
                if (lie == was) continue;
                Bytes b = good;
                Put16(b, at, lie);
                Try({std::string(name) + " word at " + std::to_string(at) + " = " + std::to_string(lie), std::move(b)});
            }
        }
    }
}

TEST_F(SltgHostile, RandomCorruption) {
    std::mt19937 rng(1995);
    for (const char* name : kSltgLibraries) {
        std::vector<Case> cases;
        damage::FlipCases(Read(name), rng, 400, name, cases);
        RunAll(cases);
    }
}

// Damage a random walk would rarely make.
TEST_F(SltgHostile, DamageMadeOnPurpose) {
    std::vector<Case> cases;
    Bytes good = Read("stdole32.tlb");
    auto blocks = Blocks(good);
    ASSERT_EQ(blocks.size(), 7u);
    {
        // A block chain that returns to its start, or to the block itself.
        Bytes b = good;
        Put16(b, 0x24 + 6 * 8 + 6, 1);
        cases.push_back({"last block continues with the first", b});
        b = good;
        Put16(b, 0x24 + 6, 1);
        cases.push_back({"first block continues with itself", b});
        b = good;
        Put16(b, 4, 0xFFFF);
        cases.push_back({"block count 0xFFFF", b});
        b = good;
        b[0x24] = b[0x25] = b[0x26] = b[0x27] = 0xFF;
        cases.push_back({"first block 4 GB long", b});
    }
    for (auto [start, length] : blocks) {
        if (length < 0x40 || Get16(good, start) != 0x0501) continue;
        // Member data made of pointer words only: type descriptions without end.
        std::size_t members = start + Get32(good, start + 0x0A) + 9;
        Bytes b = good;
        for (std::size_t at = members; at + 2 <= start + length - 0x36; at += 2) Put16(b, at, 0x001A);
        cases.push_back({"members of the block at " + std::to_string(start) + " all pointer words", b});
        // Array descriptors with 0xFFFF dimensions, wherever an offset could point.
        b = good;
        for (std::size_t at = members; at + 2 <= start + length - 0x36; at += 2) Put16(b, at, 0xFFFF);
        cases.push_back({"members of the block at " + std::to_string(start) + " all 0xFFFF", b});
        // Counts in the tail that the chains do not hold.
        b = good;
        std::size_t tail = members + Get32(good, start + Get32(good, start + 0x0A) + 5);
        Put16(b, tail, 0xFFFF);
        Put16(b, tail + 2, 0xFFFF);
        Put16(b, tail + 4, 0xFFFF);
        cases.push_back({"tail of the block at " + std::to_string(start) + " counts 0xFFFF", b});
        // A reference table claiming billions of references.
        std::uint32_t refs = Get32(good, start + 2);
        if (refs != 0xFFFFFFFFu) {
            b = good;
            b[start + refs + 0x44] = b[start + refs + 0x45] = b[start + refs + 0x46] = b[start + refs + 0x47] = 0xFF;
            cases.push_back({"reference table of the block at " + std::to_string(start) + " 4 GB", b});
        }
    }
    RunAll(cases);

    // VBAEN32.OLB's doc-string word tree: 0xADA bytes at 0x27AD, after its size.
    Bytes vba = Read("VBAEN32.OLB");
    ASSERT_EQ(Get32(vba, 0x27A9), 0xADAu);
    ASSERT_EQ(vba[0x27AD], 0x80);
    const std::size_t tree = 0x27AD, treeEnd = tree + 0xADA;
    auto nodes = [&](const std::function<void(Bytes&, std::size_t)>& change) {
        Bytes b = vba;
        for (std::size_t at = tree; at + 3 <= treeEnd; ++at)
            if (vba[at] == 0x80) change(b, at);
        return b;
    };
    cases.clear();
    cases.push_back({"every 0 bit leads back to the root", nodes([&](Bytes& b, std::size_t at) { b[at + 1] = b[at + 2] = 0; })});
    cases.push_back({"every 0 bit leads out of the tree", nodes([&](Bytes& b, std::size_t at) { b[at + 1] = b[at + 2] = 0xFF; })});
    {
        Bytes b = vba;
        b[tree] = 0x01;  // the root a leaf: a word that reads no bits
        cases.push_back({"the root is a word", b});
        b = vba;
        Put32(b, 0x27A9, 0xFFFFFFFFu);
        cases.push_back({"tree 4 GB long", b});
        b = vba;
        for (std::size_t at = tree; at < treeEnd; ++at)
            if (b[at] == 0) b[at] = 'x';  // words without end
        cases.push_back({"words without a NUL", b});
    }
    RunAll(cases);

    // A library that imports itself: ir41_32original.dll under the name of its import. Its dual
    // interfaces then derive from one of its own dual interfaces, and so on without end.
    fs::create_directories(dir_ / "self");
    fs::copy_file(kFiles / "ir41_32original.dll", dir_ / "self" / "STDOLE32.TLB", fs::copy_options::overwrite_existing);
    ITypeLib* raw = nullptr;
    HRESULT hr = tlb::LoadTypeLibFromBytes(Read("ir41_32original.dll"), (dir_ / "self" / "STDOLE32.TLB").string(), 0, &raw);
    ASSERT_EQ(hr, S_OK);
    ComPtr<ITypeLib> lib = ComPtr<ITypeLib>::Attach(raw);
    libwalk::Counts c = libwalk::WalkLibrary(lib.Get());
    EXPECT_GT(c.funcs, 0u);
}

}  // namespace
