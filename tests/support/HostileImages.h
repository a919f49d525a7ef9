// Image files that claim more than they hold: the decompression bombs and
// out-of-limit headers the readers must refuse before allocating. Each is
// made from a small real file whose header is rewritten, so everything but
// the claim is well-formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace skelvane::test {

using Bytes = std::vector<std::uint8_t>;

// A baseline JPEG of an 8 x 8 picture (a few hundred bytes) whose frame
// header claims width x height.
Bytes JpegClaiming(int width, int height);

// A progressive JPEG of `components` components at full resolution whose
// `scans` scans each code only the DC of every block, all zero (mid-gray), in
// one bit a block: the least data a JPEG of that size can have. With a
// `claimed` size other than 0 x 0 the frame header is rewritten to it, the
// data staying that of width x height.
Bytes DcOnlyJpeg(int width, int height, int components, int scans, int claimedWidth = 0, int claimedHeight = 0);

// An RGBA PNG of an 8 x 8 picture whose IHDR claims width x height (its CRC
// mended), with a private ancillary chunk of `paddingBytes` before the image
// data (0: none).
Bytes PngClaiming(int width, int height, std::size_t paddingBytes = 0);

// A 24-bit uncompressed BMP header claiming width x height, followed by
// `dataBytes` bytes of pixels.
Bytes BmpClaiming(int width, int height, std::size_t dataBytes);

// An 8-bit run-length BMP claiming width x height whose data is one run and
// the end-of-bitmap marker.
Bytes RunLengthBmpClaiming(int width, int height);

// A run-length true-colour TGA claiming width x height, followed by
// `dataBytes` bytes of packets (each a run of 128 black pixels).
Bytes RunLengthTgaClaiming(int width, int height, std::size_t dataBytes);

// Limits this process's address space to what it has mapped now and `bytes`
// more, so that a decoder allocating beyond that gets std::bad_alloc: for the
// child process of a death test.
void LeaveAddressSpaceRoom(std::uint64_t bytes);

}  // namespace skelvane::test
