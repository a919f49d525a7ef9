#include "support/HostileImages.h"

#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "engine/image/ImageBuffer.h"
#include "imageio/JpegCodec.h"
#include "imageio/PngCodec.h"
#include "support/TestImages.h"

namespace skelvane::test {
namespace {

void PutBig16(Bytes& bytes, std::size_t at, int value)
{
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void PutBig32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

void AppendLittle(Bytes& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void AppendMarker(Bytes& bytes, std::uint8_t marker, const Bytes& payload)
{
    bytes.insert(bytes.end(), {0xFF, marker, static_cast<std::uint8_t>((payload.size() + 2) >> 8),
                               static_cast<std::uint8_t>(payload.size() + 2)});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
}

// Rewrites the size in the first frame header (SOF0 to SOF2).
void ClaimJpegSize(Bytes& file, int width, int height)
{
    for (std::size_t at = 2; at + 9 < file.size();) {
        if (file[at] != 0xFF) {
            break;
        }
        const std::uint8_t marker = file[at + 1];
        if (marker >= 0xC0 && marker <= 0xC2) {
            PutBig16(file, at + 5, height);
            PutBig16(file, at + 7, width);
            return;
        }
        at += 2 + (std::size_t{file[at + 2]} << 8 | file[at + 3]);
    }
    throw std::logic_error("no frame header");
}

Bytes PngChunk(const char* type, const Bytes& data)
{
    Bytes chunk(12 + data.size());
    PutBig32(chunk.data(), static_cast<std::uint32_t>(data.size()));
    std::copy(type, type + 4, chunk.begin() + 4);
    std::copy(data.begin(), data.end(), chunk.begin() + 8);
    const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(data.size() + 4));
    PutBig32(chunk.data() + chunk.size() - 4, static_cast<std::uint32_t>(crc));
    return chunk;
}

}  // namespace

Bytes JpegClaiming(int width, int height)
{
    CImageBuffer image = MakePatternImage(8, 8);
    Bytes file;
    if (!EncodeJpeg(image, 75, file)) {
        throw std::logic_error("cannot encode");
    }
    ClaimJpegSize(file, width, height);
    return file;
}

Bytes DcOnlyJpeg(int width, int height, int components, int scans, int claimedWidth, int claimedHeight)
{
    Bytes file = {0xFF, 0xD8};
    AppendMarker(file, 0xDB, [] {
        Bytes table(65, 1);
        table[0] = 0;  // 8-bit table 0
        return table;
    }());
    Bytes frame = {8, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                   static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width),
                   static_cast<std::uint8_t>(components)};
    Bytes scan = {static_cast<std::uint8_t>(components)};
    for (int c = 1; c <= components; ++c) {
        frame.insert(frame.end(), {static_cast<std::uint8_t>(c), 0x11, 0});
        scan.insert(scan.end(), {static_cast<std::uint8_t>(c), 0x00});
    }
    scan.insert(scan.end(), {0, 0, 0});  // DC only, no successive approximation
    AppendMarker(file, 0xC2, frame);
    // DC table 0: the one code "0" stands for a difference of 0.
    Bytes huffman(18, 0);
    huffman[1] = 1;
    AppendMarker(file, 0xC4, huffman);
    const std::uint64_t blocks = std::uint64_t((width + 7) / 8) * ((height + 7) / 8) * components;
    for (int n = 0; n < scans; ++n) {
        AppendMarker(file, 0xDA, scan);
        file.resize(file.size() + (blocks + 7) / 8, 0);
    }
    file.insert(file.end(), {0xFF, 0xD9});
    if (claimedWidth != 0 || claimedHeight != 0) {
        ClaimJpegSize(file, claimedWidth, claimedHeight);
    }
    return file;
}

Bytes PngClaiming(int width, int height, std::size_t paddingBytes)
{
    CImageBuffer image = MakePatternImage(8, 8);
    Bytes file;
    if (!EncodePng(image, false, file)) {
        throw std::logic_error("cannot encode");
    }
    // Signature, then IHDR: length, type, width, height, ..., CRC.
    Bytes header(file.begin() + 16, file.begin() + 29);
    PutBig32(header.data(), static_cast<std::uint32_t>(width));
    PutBig32(header.data() + 4, static_cast<std::uint32_t>(height));
    Bytes claiming(file.begin(), file.begin() + 8);
    const Bytes ihdr = PngChunk("IHDR", header);
    claiming.insert(claiming.end(), ihdr.begin(), ihdr.end());
    if (paddingBytes > 0) {
        const Bytes padding = PngChunk("juNk", Bytes(paddingBytes, 0x5A));
        claiming.insert(claiming.end(), padding.begin(), padding.end());
    }
    claiming.insert(claiming.end(), file.begin() + 33, file.end());
    return claiming;
}

Bytes BmpClaiming(int width, int height, std::size_t dataBytes)
{
    Bytes file = {'B', 'M'};
    AppendLittle(file, static_cast<std::uint32_t>(54 + dataBytes), 4);
    AppendLittle(file, 0, 4);
    AppendLittle(file, 54, 4);
    AppendLittle(file, 40, 4);
    AppendLittle(file, static_cast<std::uint32_t>(width), 4);
    AppendLittle(file, static_cast<std::uint32_t>(height), 4);
    AppendLittle(file, 1, 2);
    AppendLittle(file, 24, 2);
    file.resize(54, 0);
    file.resize(54 + dataBytes, 0x40);
    return file;
}

Bytes RunLengthBmpClaiming(int width, int height)
{
    Bytes file = {'B', 'M'};
    AppendLittle(file, 0, 4);
    AppendLittle(file, 0, 4);
    AppendLittle(file, 54 + 1024, 4);
    AppendLittle(file, 40, 4);
    AppendLittle(file, static_cast<std::uint32_t>(width), 4);
    AppendLittle(file, static_cast<std::uint32_t>(height), 4);
    AppendLittle(file, 1, 2);
    AppendLittle(file, 8, 2);
    AppendLittle(file, 1, 4);  // RLE8
    file.resize(54 + 1024, 0);
    file.insert(file.end(), {255, 1, 0, 1});  // 255 pixels of colour 1, end of bitmap
    return file;
}

Bytes RunLengthTgaClaiming(int width, int height, std::size_t dataBytes)
{
    Bytes file(18, 0);
    file[2] = 10;  // run-length true colour
    file[12] = static_cast<std::uint8_t>(width);
    file[13] = static_cast<std::uint8_t>(width >> 8);
    file[14] = static_cast<std::uint8_t>(height);
    file[15] = static_cast<std::uint8_t>(height >> 8);
    file[16] = 24;
    file[17] = 0x20;
    for (std::size_t i = 0; i + 4 <= dataBytes; i += 4) {
        file.insert(file.end(), {0xFF, 0, 0, 0});
    }
    return file;
}

void LeaveAddressSpaceRoom(std::uint64_t bytes)
{
    // Mapped pages, from /proc/self/statm.
    unsigned long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + bytes;
    const rlimit limit{room, room};
    setrlimit(RLIMIT_AS, &limit);
}

}  // namespace skelvane::test
