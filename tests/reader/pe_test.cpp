// Finding TYPELIB resources in PE images built here byte by byte, so that every field of the
// headers and the resource tree can be set or damaged on purpose.
#include "platform/oleauto/pe_image.h"
#include "reader_util.h"

#include <cstring>

using namespace readertest;

namespace {

struct Resource {
    std::u16string type;  // a named type ("TYPELIB"); empty: the integer type `typeId`
    std::uint32_t typeId = 0;
    std::uint32_t id = 1;
    std::vector<std::uint8_t> data;
};

// A minimal image: DOS header, PE headers, one ".rsrc" section holding the resource tree.
struct PeBuilder {
    bool plus = true;                 // PE32+ or PE32
    std::uint32_t sectionRva = 0x3000;
    std::uint32_t rawPointer = 0x400;
    std::vector<Resource> resources;

    // Offsets (in the file) of fields the tests damage.
    std::size_t resourceDirField = 0;  // the data directory entry: RVA, size
    std::size_t sectionHeader = 0;
    std::size_t firstDataEntry = 0;    // RVA, size of the first resource's data
    std::size_t typeDirEntry = 0;      // the root's first entry: name, target

    static void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
        if (b.size() < at + 2) b.resize(at + 2);
        b[at] = std::uint8_t(v);
        b[at + 1] = std::uint8_t(v >> 8);
    }
    static void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
        if (b.size() < at + 4) b.resize(at + 4);
        for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    }

    std::vector<std::uint8_t> Build() {
        // The resource section: root directory, one directory per type, one per resource,
        // data entries, names, data.
        std::vector<std::uint8_t> s;
        std::vector<std::pair<std::u16string, std::uint32_t>> types;  // in resource order
        for (const Resource& r : resources) {
            bool seen = false;
            for (auto& t : types) seen = seen || (t.first == r.type && t.second == r.typeId);
            if (!seen) types.emplace_back(r.type, r.typeId);
        }
        auto dir = [&](std::size_t at, std::uint16_t named, std::uint16_t ids) {
            Put32(s, at, 0);
            Put16(s, at + 12, named);
            Put16(s, at + 14, ids);
        };
        std::size_t root = 0;
        std::uint16_t namedTypes = 0;
        for (auto& t : types) namedTypes += !t.first.empty();
        dir(root, namedTypes, std::uint16_t(types.size() - namedTypes));
        std::size_t next = 16 + types.size() * 8;
        std::vector<std::size_t> typeDirs;
        for (std::size_t i = 0; i < types.size(); ++i) {
            std::size_t count = 0;
            for (const Resource& r : resources) count += r.type == types[i].first && r.typeId == types[i].second;
            typeDirs.push_back(next);
            next += 16 + count * 8;
        }
        std::vector<std::size_t> langDirs, dataEntries;
        for (std::size_t i = 0; i < resources.size(); ++i) {
            langDirs.push_back(next);
            next += 16 + 8;
        }
        for (std::size_t i = 0; i < resources.size(); ++i) {
            dataEntries.push_back(next);
            next += 16;
        }
        std::vector<std::size_t> names;
        for (auto& t : types) {
            names.push_back(next);
            if (!t.first.empty()) next += 2 + t.first.size() * 2;
        }
        next = (next + 7) & ~std::size_t(7);
        std::vector<std::size_t> blobs;
        for (const Resource& r : resources) {
            blobs.push_back(next);
            next += (r.data.size() + 7) & ~std::size_t(7);
        }
        s.assign(next, 0);
        dir(root, namedTypes, std::uint16_t(types.size() - namedTypes));
        for (std::size_t i = 0; i < types.size(); ++i) {
            std::size_t e = 16 + i * 8;
            if (!types[i].first.empty()) {
                Put32(s, e, 0x80000000u | std::uint32_t(names[i]));
                Put16(s, names[i], std::uint16_t(types[i].first.size()));
                for (std::size_t k = 0; k < types[i].first.size(); ++k) Put16(s, names[i] + 2 + k * 2, types[i].first[k]);
            } else {
                Put32(s, e, types[i].second);
            }
            Put32(s, e + 4, 0x80000000u | std::uint32_t(typeDirs[i]));
            std::size_t n = 0;
            for (std::size_t r = 0; r < resources.size(); ++r) {
                if (resources[r].type != types[i].first || resources[r].typeId != types[i].second) continue;
                std::size_t re = typeDirs[i] + 16 + n++ * 8;
                Put32(s, re, resources[r].id);
                Put32(s, re + 4, 0x80000000u | std::uint32_t(langDirs[r]));
            }
            dir(typeDirs[i], 0, std::uint16_t(n));
        }
        for (std::size_t r = 0; r < resources.size(); ++r) {
            dir(langDirs[r], 0, 1);
            Put32(s, langDirs[r] + 16, 0x409);
            Put32(s, langDirs[r] + 20, std::uint32_t(dataEntries[r]));
            Put32(s, dataEntries[r], sectionRva + std::uint32_t(blobs[r]));
            Put32(s, dataEntries[r] + 4, std::uint32_t(resources[r].data.size()));
            std::memcpy(s.data() + blobs[r], resources[r].data.data(), resources[r].data.size());
        }

        std::vector<std::uint8_t> b(rawPointer, 0);
        b[0] = 'M';
        b[1] = 'Z';
        const std::size_t pe = 0x80;
        Put32(b, 0x3C, pe);
        Put32(b, pe, 0x00004550);
        const std::size_t coff = pe + 4;
        const std::uint16_t optSize = plus ? 240 : 224;
        Put16(b, coff, plus ? 0x8664 : 0x14C);
        Put16(b, coff + 2, 1);
        Put16(b, coff + 16, optSize);
        Put16(b, coff + 18, 0x2102);
        const std::size_t opt = coff + 20;
        Put16(b, opt, plus ? 0x20B : 0x10B);
        const std::size_t count = opt + (plus ? 108 : 92), dirs = opt + (plus ? 112 : 96);
        Put32(b, count, 16);
        resourceDirField = dirs + 2 * 8;
        Put32(b, resourceDirField, sectionRva);
        Put32(b, resourceDirField + 4, std::uint32_t(s.size()));
        sectionHeader = opt + optSize;
        std::memcpy(b.data() + sectionHeader, ".rsrc\0\0", 8);
        Put32(b, sectionHeader + 8, std::uint32_t(s.size()));
        Put32(b, sectionHeader + 12, sectionRva);
        Put32(b, sectionHeader + 16, std::uint32_t(s.size()));
        Put32(b, sectionHeader + 20, rawPointer);
        b.insert(b.end(), s.begin(), s.end());
        firstDataEntry = resources.empty() ? 0 : rawPointer + dataEntries[0];
        typeDirEntry = rawPointer + 16;
        return b;
    }
};

std::vector<std::uint8_t> Lib(const char* name) { return ReadFile(Fixture(name)); }

HRESULT Extract(const std::vector<std::uint8_t>& image, int number, std::vector<std::uint8_t>* out) {
    tlb::MemoryImage m(image.data(), image.size());
    return tlb::ReadTypeLibResource(m, number, out);
}

std::string LoadedName(const std::vector<std::uint8_t>& image, int number, HRESULT* hr) {
    ComPtr<ITypeLib> lib;
    *hr = tlb::LoadTypeLibFromBytes(image, "", number, lib.Put());
    BStr name;
    if (FAILED(*hr) || FAILED(lib->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr))) return "";
    return name.Utf8();
}

TEST(ReaderPe, ResourcesAreChosenByTypeNameAndId) {
    for (bool plus : {false, true}) {
        PeBuilder pe;
        pe.plus = plus;
        pe.resources.push_back({u"", 16, 1, {1, 2, 3}});                  // a version resource
        pe.resources.push_back({u"REGISTRY", 0, 1, {4, 5}});              // another named type
        pe.resources.push_back({u"typelib", 0, 3, Lib("QuibrelEvents.tlb")});
        pe.resources.push_back({u"typelib", 0, 7, Lib("QuibrelShared.tlb")});
        std::vector<std::uint8_t> image = pe.Build();
        HRESULT hr;
        EXPECT_EQ(LoadedName(image, 0, &hr), "QuibrelEvents") << plus;  // the first one
        EXPECT_EQ(LoadedName(image, 7, &hr), "QuibrelShared") << plus;
        EXPECT_EQ(LoadedName(image, 3, &hr), "QuibrelEvents") << plus;
        LoadedName(image, 1, &hr);  // id 1 is a resource of other types only
        EXPECT_EQ(hr, TYPE_E_CANTLOADLIBRARY) << plus;
    }
}

TEST(ReaderPe, ImagesWithoutALibrary) {
    PeBuilder pe;
    pe.resources.push_back({u"TYPELIBX", 0, 1, Lib("QuibrelShared.tlb")});
    pe.resources.push_back({u"", 6, 1, Lib("QuibrelShared.tlb")});  // a string table, not TYPELIB
    std::vector<std::uint8_t> out;
    EXPECT_EQ(Extract(pe.Build(), 0, &out), TYPE_E_CANTLOADLIBRARY);
    EXPECT_TRUE(out.empty());
    // A resource that is not a library.
    PeBuilder junk;
    junk.resources.push_back({u"TYPELIB", 0, 1, {'j', 'u', 'n', 'k'}});
    HRESULT hr;
    LoadedName(junk.Build(), 0, &hr);
    EXPECT_EQ(hr, TYPE_E_CANTLOADLIBRARY);
    // "MZ" alone, and a PE signature that is not there.
    std::vector<std::uint8_t> mz{'M', 'Z'};
    EXPECT_EQ(Extract(mz, 0, &out), TYPE_E_CANTLOADLIBRARY);
    std::vector<std::uint8_t> image = PeBuilder{}.Build();
    EXPECT_EQ(Extract(image, 0, &out), TYPE_E_CANTLOADLIBRARY);  // no resources at all
}

TEST(ReaderPe, SectionMappingIsFollowedAndChecked) {
    PeBuilder pe;
    pe.sectionRva = 0x12345000;
    pe.rawPointer = 0x1000;
    pe.resources.push_back({u"TYPELIB", 0, 1, Lib("QuibrelShared.tlb")});
    std::vector<std::uint8_t> image = pe.Build();
    std::vector<std::uint8_t> out;
    ASSERT_EQ(Extract(image, 0, &out), S_OK);
    EXPECT_EQ(out, Lib("QuibrelShared.tlb"));

    // The data reaching past its section, past the file, or at an address no section holds.
    std::vector<std::uint8_t> longer = image;
    PeBuilder::Put32(longer, pe.firstDataEntry + 4, std::uint32_t(out.size() + 4096));
    EXPECT_EQ(Extract(longer, 0, &out), TYPE_E_INVDATAREAD);
    std::vector<std::uint8_t> huge = image;
    PeBuilder::Put32(huge, pe.firstDataEntry + 4, 0xFFFFFFF0u);
    EXPECT_EQ(Extract(huge, 0, &out), TYPE_E_INVDATAREAD);
    std::vector<std::uint8_t> nowhere = image;
    PeBuilder::Put32(nowhere, pe.firstDataEntry, 0x100);
    EXPECT_EQ(Extract(nowhere, 0, &out), TYPE_E_INVDATAREAD);
    std::vector<std::uint8_t> cut(image.begin(), image.end() - 64);
    EXPECT_NE(Extract(cut, 0, &out), S_OK);
    // A section whose file data is claimed to be larger than the file.
    std::vector<std::uint8_t> raw = image;
    PeBuilder::Put32(raw, pe.sectionHeader + 16, 0x7FFFFFFF);
    PeBuilder::Put32(raw, pe.sectionHeader + 8, 0x7FFFFFFF);
    PeBuilder::Put32(raw, pe.firstDataEntry + 4, 0x10000000);
    EXPECT_EQ(Extract(raw, 0, &out), TYPE_E_INVDATAREAD);
}

TEST(ReaderPe, DamagedResourceTreesFailCleanly) {
    PeBuilder pe;
    pe.resources.push_back({u"TYPELIB", 0, 1, Lib("QuibrelShared.tlb")});
    const std::vector<std::uint8_t> image = pe.Build();
    std::vector<std::uint8_t> out;

    // The type entry pointing back at the root directory: the walk has a fixed depth.
    std::vector<std::uint8_t> loop = image;
    PeBuilder::Put32(loop, pe.typeDirEntry + 4, 0x80000000u);
    EXPECT_EQ(Extract(loop, 0, &out), TYPE_E_CANTLOADLIBRARY);
    // Its name outside the resource section.
    std::vector<std::uint8_t> name = image;
    PeBuilder::Put32(name, pe.typeDirEntry, 0xFFFFFFF0u);
    EXPECT_EQ(Extract(name, 0, &out), TYPE_E_CANTLOADLIBRARY);
    // Its directory outside the resource section.
    std::vector<std::uint8_t> far = image;
    PeBuilder::Put32(far, pe.typeDirEntry + 4, 0xFFFFFF00u);
    EXPECT_EQ(Extract(far, 0, &out), TYPE_E_CANTLOADLIBRARY);
    // A root directory that claims 65535 + 65535 entries, none of them TYPELIB.
    std::vector<std::uint8_t> many = image;
    PeBuilder::Put32(many, pe.typeDirEntry, 5);
    PeBuilder::Put16(many, pe.rawPointer + 12, 0xFFFF);
    PeBuilder::Put16(many, pe.rawPointer + 14, 0xFFFF);
    EXPECT_NE(Extract(many, 0, &out), S_OK);
    // No resource directory in the headers, or one beyond every section.
    std::vector<std::uint8_t> none = image;
    PeBuilder::Put32(none, pe.resourceDirField, 0);
    EXPECT_EQ(Extract(none, 0, &out), TYPE_E_CANTLOADLIBRARY);
    std::vector<std::uint8_t> beyond = image;
    PeBuilder::Put32(beyond, pe.resourceDirField, 0x7FFF0000);
    EXPECT_EQ(Extract(beyond, 0, &out), TYPE_E_CANTLOADLIBRARY);
    // Headers that lie about where they are.
    std::vector<std::uint8_t> lfanew = image;
    PeBuilder::Put32(lfanew, 0x3C, 0xFFFFFFF0u);
    EXPECT_EQ(Extract(lfanew, 0, &out), TYPE_E_CANTLOADLIBRARY);
    std::vector<std::uint8_t> sections = image;
    PeBuilder::Put16(sections, 0x80 + 4 + 2, 0xFFFF);
    EXPECT_EQ(Extract(sections, 0, &out), TYPE_E_CANTLOADLIBRARY);
    EXPECT_TRUE(out.empty());
}

}  // namespace
