// SHA-256 of a byte string, as lower-case hex, for the package listing.
#pragma once

#include <cstddef>
#include <string>

std::string Sha256Hex(const void* data, std::size_t size);
