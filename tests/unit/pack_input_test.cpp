// The builder's checks of files from other people's tools: templates and packages read byte for
// byte, kit cabinets by the setup's rules, messages kept on one readable line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pack/kit_cabinet.h"
#include "pack/pack_text.h"
#include "pack/pe_resources.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& bytes, std::size_t at, std::uint32_t value, int width) {
    if (bytes.size() < at + width) bytes.resize(at + width);
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A minimal PE32 file with one section holding a resource directory: BINARY / id / language.
Bytes MakeSetup(unsigned id, unsigned short language, const std::string& payload) {
    Bytes b(0x400, 0);
    Put(b, 0, 0x5A4D, 2);
    Put(b, 0x3C, 0x80, 4);
    Put(b, 0x80, 0x00004550, 4);
    Put(b, 0x84, 0x14C, 2);  // i386
    Put(b, 0x86, 1, 2);      // one section
    Put(b, 0x94, 224, 2);    // optional header size
    const std::size_t optional = 0x98;
    Put(b, optional, 0x10B, 2);
    Put(b, optional + 92, 16, 4);              // data directories
    Put(b, optional + 96 + 2 * 8, 0x1000, 4);  // resources at RVA 0x1000
    Put(b, optional + 96 + 2 * 8 + 4, 0x200, 4);
    const std::size_t section = optional + 224;
    Put(b, section + 8, 0x200, 4);           // virtual size
    Put(b, section + 12, 0x1000, 4);         // virtual address
    Put(b, section + 16, 0x200, 4);          // raw size
    Put(b, section + 20, 0x200, 4);          // raw offset
    const std::size_t r = 0x200;             // resource directory at file offset 0x200
    Put(b, r + 12, 1, 2);                    // root: one named entry
    Put(b, r + 16, 0x80000000u | 0x100, 4);  // name "BINARY" at +0x100
    Put(b, r + 20, 0x80000000u | 0x18, 4);   // ids directory at +0x18
    Put(b, r + 0x18 + 14, 1, 2);             // one numbered entry
    Put(b, r + 0x28, id, 4);
    Put(b, r + 0x2C, 0x80000000u | 0x30, 4);  // languages at +0x30
    Put(b, r + 0x30 + 14, 1, 2);
    Put(b, r + 0x40, language, 4);
    Put(b, r + 0x44, 0x48, 4);            // data entry at +0x48
    Put(b, r + 0x48, 0x1000 + 0x120, 4);  // data RVA
    Put(b, r + 0x4C, static_cast<std::uint32_t>(payload.size()), 4);
    const char16_t name[] = u"BINARY";
    Put(b, r + 0x100, 6, 2);
    for (int i = 0; i < 6; ++i) Put(b, r + 0x102 + 2 * i, name[i], 2);
    for (std::size_t i = 0; i < payload.size(); ++i) b[r + 0x120 + i] = payload[i];
    b.resize(0x400);
    return b;
}

TEST(ReadPayloadResources, FindsTheEntryWhereItLies) {
    Bytes setup = MakeSetup(119, 0, "trace-log=yes");
    std::vector<PeResource> found;
    std::string fault;
    ASSERT_TRUE(ReadPayloadResources(setup.data(), setup.size(), found, fault)) << fault;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, 119u);
    EXPECT_EQ(found[0].language, 0);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(setup.data() + found[0].offset), found[0].size),
        "trace-log=yes");
}

// Every cut of a good file, and damaged fields, give a fault and never a read outside.
TEST(ReadPayloadResources, EveryTruncationAndDamageIsAFault) {
    const Bytes setup = MakeSetup(107, 1033, "<root/>");
    std::vector<PeResource> found;
    std::string fault;
    PeProgram program;
    PeSignatureLayout layout;
    ASSERT_TRUE(ReadProgramHeaders(setup.data(), setup.size(), program, fault)) << fault;
    EXPECT_EQ(program.machine, kMachineI386);
    ASSERT_TRUE(ReadSignatureLayout(setup.data(), setup.size(), layout, fault)) << fault;
    EXPECT_EQ(layout.sectionsEnd, setup.size());
    for (std::size_t size = 0; size < setup.size(); ++size) {
        Bytes cut(setup.begin(), setup.begin() + size);
        EXPECT_FALSE(ReadPayloadResources(cut.data(), cut.size(), found, fault)) << size;
        // A program is checked whole, as the loader maps it, not only up to its headers.
        EXPECT_FALSE(ReadProgramHeaders(cut.data(), cut.size(), program, fault)) << size;
    }
    struct Damage {
        std::size_t at;
        std::uint32_t value;
        int width;
    };
    for (const Damage& damage :
         {Damage{0x3C, 0xFFFFFFF0u, 4}, Damage{0x86, 0xFFFF, 2}, Damage{0x98 + 92, 1, 4},
          Damage{0x200 + 0x4C, 0x7FFFFFFF, 4}, Damage{0x200 + 0x2C, 0x8000FFF0u, 4},
          Damage{0x98 + 224 + 20, 0xFFFF0000u, 4}}) {
        Bytes damaged = setup;
        Put(damaged, damage.at, damage.value, damage.width);
        EXPECT_FALSE(ReadPayloadResources(damaged.data(), damaged.size(), found, fault))
            << damage.at;
    }
}

// Two entries, 107 and 114, each in a language directory of its own, with a data entry of its
// own; `shape` then points one of them where a crafted file would.
enum class Shape { kGood, kSharedLanguages, kSharedDataEntry, kCycle, kOverlappingBytes };

Bytes MakeTwoEntrySetup(Shape shape) {
    Bytes b = MakeSetup(107, 0, "");
    const std::size_t r = 0x200;
    const std::uint32_t dir = 0x80000000u;
    for (std::size_t i = r; i < r + 0x100; ++i) b[i] = 0;
    Put(b, r + 12, 1, 2);
    Put(b, r + 16, dir | 0x100, 4);
    Put(b, r + 20, dir | 0x18, 4);
    Put(b, r + 0x18 + 14, 2, 2);  // ids: 107 and 114
    Put(b, r + 0x28, 107, 4);
    Put(b, r + 0x2C, dir | 0x38, 4);
    Put(b, r + 0x30, 114, 4);
    const std::uint32_t second = shape == Shape::kSharedLanguages ? 0x38
                                 : shape == Shape::kCycle         ? 0x18
                                                                  : 0x50;
    Put(b, r + 0x34, dir | second, 4);
    for (std::size_t languages : {0x38u, 0x50u}) {
        Put(b, r + languages + 14, 1, 2);
        Put(b, r + languages + 16, 0, 4);
    }
    Put(b, r + 0x38 + 20, 0x68, 4);
    Put(b, r + 0x50 + 20, shape == Shape::kSharedDataEntry ? 0x68 : 0x78, 4);
    Put(b, r + 0x68, 0x1000 + 0x120, 4);
    Put(b, r + 0x6C, 8, 4);
    Put(b, r + 0x78, 0x1000 + (shape == Shape::kOverlappingBytes ? 0x124 : 0x140), 4);
    Put(b, r + 0x7C, 8, 4);
    return b;
}

// Each directory and data entry is read once and no two entries share bytes: a crafted file
// can neither make a listing endless nor hand one entry's bytes out many times.
TEST(ReadPayloadResources, SharedCyclicOrOverlappingEntriesAreRefused) {
    std::vector<PeResource> found;
    std::string fault;
    const Bytes good = MakeTwoEntrySetup(Shape::kGood);
    ASSERT_TRUE(ReadPayloadResources(good.data(), good.size(), found, fault)) << fault;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].id, 114u);
    const std::pair<Shape, const char*> refused[] = {
        {Shape::kSharedLanguages, "its resource directory shares or repeats entries"},
        {Shape::kSharedDataEntry, "its resource directory shares or repeats entries"},
        {Shape::kCycle, "its resource directory shares or repeats entries"},
        {Shape::kOverlappingBytes, "its payload entries overlap"},
    };
    for (const auto& [shape, expected] : refused) {
        const Bytes crafted = MakeTwoEntrySetup(shape);
        EXPECT_FALSE(ReadPayloadResources(crafted.data(), crafted.size(), found, fault));
        EXPECT_EQ(fault, expected) << static_cast<int>(shape);
    }
}

// A cabinet as a cabinet maker writes one: header, one folder, the entries.
Bytes MakeCabinet(const std::vector<std::pair<std::string, std::uint32_t>>& entries,
                  std::uint32_t flags = 0) {
    Bytes b(36 + 8, 0);
    Put(b, 0, 0x4643534D, 4);
    Put(b, 16, 44, 4);
    Put(b, 26, 1, 2);
    Put(b, 28, static_cast<std::uint32_t>(entries.size()), 2);
    Put(b, 30, flags, 2);
    for (const auto& [name, attributes] : entries) {
        std::size_t at = b.size();
        Put(b, at + 14, attributes, 2);
        for (char c : name) b.push_back(static_cast<unsigned char>(c));
        b.push_back(0);
    }
    Put(b, 8, static_cast<std::uint32_t>(b.size()), 4);
    return b;
}

// One stored data block, "hello world", behind the entry list; its checksum as gcab writes it.
Bytes WithDataBlock(Bytes cabinet, std::uint32_t checksum) {
    const std::size_t block = cabinet.size();
    Put(cabinet, 36, static_cast<std::uint32_t>(block), 4);  // the folder's first block
    Put(cabinet, 40, 1, 2);                                  // one block
    Put(cabinet, block, checksum, 4);
    Put(cabinet, block + 4, 11, 2);
    Put(cabinet, block + 6, 11, 2);
    for (char c : std::string("hello world")) cabinet.push_back(static_cast<unsigned char>(c));
    Put(cabinet, 8, static_cast<std::uint32_t>(cabinet.size()), 4);
    return cabinet;
}

// The platform's extractor unpacks damaged data without a word: the builder checks each block.
TEST(CheckKitCabinet, DataBlocksMatchTheirChecksums) {
    std::vector<std::string> names;
    const Bytes cabinet = MakeCabinet({{"ZunaClientModule32.exe", 0x20}});
    const Bytes good = WithDataBlock(cabinet, 0x03622968);
    EXPECT_EQ(CheckKitCabinet(good.data(), good.size(), names), "");
    const Bytes unchecked = WithDataBlock(cabinet, 0);  // no checksum stored
    EXPECT_EQ(CheckKitCabinet(unchecked.data(), unchecked.size(), names), "");
    Bytes flipped = good;
    flipped[flipped.size() - 3] ^= 0x20;
    EXPECT_EQ(CheckKitCabinet(flipped.data(), flipped.size(), names),
              "its data block 1 of folder 1 is damaged (its checksum does not match)");
    Bytes cut = good;
    const std::size_t block = good.size() - 11 - 8;
    Put(cut, block + 4, 200, 2);  // the block claims more bytes than follow
    EXPECT_EQ(CheckKitCabinet(cut.data(), cut.size(), names), "its data is cut short");
}

TEST(CheckKitCabinet, TheSetupsRules) {
    std::vector<std::string> names;
    Bytes good = MakeCabinet({{"ZunaClientModule32.exe", 0x20}, {"QTMStandaloneSvc.exe ", 0x20}});
    EXPECT_EQ(CheckKitCabinet(good.data(), good.size(), names), "");
    EXPECT_TRUE(HoldsEntry(names, "zunaclientmodule32.EXE"));
    EXPECT_TRUE(HoldsEntry(names, "QTMStandaloneSvc.exe"));
    EXPECT_FALSE(HoldsEntry(names, "setup.exe"));

    const std::pair<Bytes, const char*> refused[] = {
        {Bytes{'M', 'S', 'C', 'F'}, "not a cabinet"},
        {Bytes(64, 0x5A), "not a cabinet"},
        {MakeCabinet({{"a.exe", 0x20}}, 0x0002), "cabinet set"},
        {MakeCabinet({{"a.exe", 0x20}}, 0x0001), "cabinet set"},
        {MakeCabinet({{"..\\a.exe", 0x20}}), "not a plain name"},
        {MakeCabinet({{"nul.txt", 0x20}}), "not a plain name"},
        {MakeCabinet({{"C:a.exe", 0x20}}), "not a plain name"},
        {MakeCabinet({{"bad \xc3(", 0xA0}}), "not a plain name"},
    };
    for (const auto& [bytes, reason] : refused) {
        EXPECT_NE(CheckKitCabinet(bytes.data(), bytes.size(), names).find(reason),
                  std::string::npos)
            << reason;
    }
    Bytes cut = good;
    cut.resize(cut.size() - 3);
    Put(cut, 8, static_cast<std::uint32_t>(cut.size()), 4);
    EXPECT_NE(CheckKitCabinet(cut.data(), cut.size(), names), "");
}

TEST(Escaped, ControlCharactersBecomeVisible) {
    EXPECT_EQ(Escaped(std::string("a\0b\rc\x7f", 6)), "a\\x00b\\rc\\x7f");
    EXPECT_EQ(Escaped("\xef\xbb\xbfkey"), "\xef\xbb\xbfkey");
}

}  // namespace
