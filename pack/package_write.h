// Writing the package: a copy of the template in the build's folder, its certificate table cut
// off, the inputs set as payload entries, read back and compared, its checksum set, and only then
// renamed over the output.
#pragma once

#include <string>
#include <vector>

#include "pack/build_folder.h"
#include "pack/build_inputs.h"
#include "pack/pack_options.h"
#include "pack/pe_resources.h"

// Why the template's certificate table cannot be cut off whole; empty when it can (or it has none).
std::string CertificateTableFault(const std::string& path, const PeSignatureLayout& layout,
                                  unsigned long long fileSize);

// Builds the package in the build's folder, checks it, and renames it to the output only then.
std::string WritePackage(const PackOptions& options, const std::vector<Input>& inputs,
                         const unsigned char* templateData,
                         const std::vector<PeResource>& templateEntries,
                         const PeSignatureLayout& templateLayout, const BuildFolder& folder);
