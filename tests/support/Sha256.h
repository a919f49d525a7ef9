// SHA-256 of a byte block, for comparing decoded pixels with published hashes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace skelvane::test {

// Lower-case hexadecimal digest.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace skelvane::test
