// Reads the payload entries of a setup from the bytes of its file, checking that every structure
// it follows (headers, sections, the resource directory, the entries) lies inside the file before
// it reads it: any file, cut or made up, gives entries or a fault, never a read outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A resource of type "BINARY" with a numeric ID: where its bytes lie in the file.
struct PeResource {
    unsigned id = 0;
    unsigned short language = 0;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

// The machine type of the file header for a 32-bit x86 program.
constexpr std::uint16_t kMachineI386 = 0x14C;
// The same for a 64-bit x86 (x86-64) program.
constexpr std::uint16_t kMachineAmd64 = 0x8664;

// Every "BINARY" resource with a numeric ID, by ID and language, and (when asked) the program's
// machine type. False with `fault` set (a short reason) when the bytes are not a complete Windows
// executable with a readable resource directory.
bool ReadPayloadResources(const unsigned char* data, std::size_t size,
                          std::vector<PeResource>& resources, std::string& fault,
                          std::uint16_t* machine = nullptr);

// Where a program's checksum and certificate table (its signature) lie in its file.
struct PeSignatureLayout {
    std::uint64_t checksumField = 0;         // the optional header's CheckSum
    std::uint64_t certificateDirectory = 0;  // the data directory's entry: offset, then size
    std::uint32_t certificateOffset = 0;     // a file offset, not an address
    std::uint32_t certificateSize = 0;       // 0 when the file carries no signature
    std::uint16_t machine = 0;               // the file header's machine type
    std::uint64_t sectionsEnd = 0;           // where the headers' and sections' bytes end
};

// Reads the layout of a Windows executable's headers; false with `fault` set when the bytes are
// not one (its section table or a section cut short), or its certificate table lies outside the
// file.
bool ReadSignatureLayout(const unsigned char* data, std::size_t size, PeSignatureLayout& layout,
                         std::string& fault);

// The file header's characteristics: the image can be started; it is a DLL.
constexpr std::uint16_t kImageExecutable = 0x0002;
constexpr std::uint16_t kImageDll = 0x2000;
// The subsystems of programs the platform starts on the desktop or in a console.
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr std::uint16_t kSubsystemWindowsConsole = 3;

// What the platform's loader looks at before it starts a program.
struct PeProgram {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t subsystem = 0;
};

// Reads a program's headers; false with `fault` set when the bytes are not a whole Windows
// executable (its headers, and every section's bytes, inside the file).
bool ReadProgramHeaders(const unsigned char* data, std::size_t size, PeProgram& program,
                        std::string& fault);

// The checksum the platform's loader and signing tools expect: the 16-bit one's complement sum of
// the file's words, its own field counted as zero, plus the file's length.
std::uint32_t PeChecksum(const unsigned char* data, std::size_t size, std::uint64_t checksumField);
