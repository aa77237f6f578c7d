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

// Every "BINARY" resource with a numeric ID, by ID and language, and (when asked) the program's
// machine type. False with `fault` set (a short reason) when the bytes are not a complete Windows
// executable with a readable resource directory.
bool ReadPayloadResources(const unsigned char* data, std::size_t size,
                          std::vector<PeResource>& resources, std::string& fault,
                          std::uint16_t* machine = nullptr);
