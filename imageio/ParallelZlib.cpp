// Each piece is raw deflate (no header or check value of its own) ending on a
// byte boundary with an empty stored block (Z_SYNC_FLUSH), except the last,
// which sets the final-block bit (Z_FINISH). Concatenated behind one zlib
// header and followed by the Adler-32 of the whole data, the pieces read as
// one stream. The per-piece checksums are combined, so nothing is summed
// twice or on one core.
#include "imageio/ParallelZlib.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

#include <tbb/parallel_for.h>
#include <zlib.h>

namespace skelvane {
namespace {

constexpr int kWindowBits = 15;
constexpr std::size_t kWindowBytes = std::size_t{1} << kWindowBits;

struct Piece {
    std::unique_ptr<std::uint8_t[]> deflated;  // only the first `size` bytes written
    std::size_t size = 0;
    uLong adler = 0;
};

struct DeflateGuard {
    z_stream stream{};
    bool initialised = false;
    ~DeflateGuard()
    {
        if (initialised) {
            deflateEnd(&stream);
        }
    }
};

void Fail(int result)
{
    if (result == Z_MEM_ERROR) {
        throw std::bad_alloc();
    }
    throw std::logic_error("deflate refused its own settings");
}

// Deflates data[begin, end) with the window before `begin` as its dictionary.
Piece DeflatePiece(const ByteSource& source, std::size_t size, std::size_t begin, std::size_t end, int strategy)
{
    const std::size_t primed = std::min(begin, kWindowBytes);
    const auto length = static_cast<uInt>(end - begin);
    const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(primed + length);
    source(begin - primed, {bytes.get(), primed + length});

    DeflateGuard guard;
    z_stream& stream = guard.stream;
    int result = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -kWindowBits, 8, strategy);
    if (result != Z_OK) {
        Fail(result);
    }
    guard.initialised = true;
    if (primed > 0) {
        result = deflateSetDictionary(&stream, bytes.get(), static_cast<uInt>(primed));
        if (result != Z_OK) {
            Fail(result);
        }
    }
    const bool last = end == size;
    Piece piece;
    piece.adler = adler32(adler32(0, nullptr, 0), bytes.get() + primed, length);
    // The bound covers a finished stream; the flush marker adds a few bytes.
    const std::size_t capacity = deflateBound(&stream, length) + 16;
    piece.deflated = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    stream.next_in = bytes.get() + primed;
    stream.avail_in = length;
    stream.next_out = piece.deflated.get();
    stream.avail_out = static_cast<uInt>(capacity);
    result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (result != (last ? Z_STREAM_END : Z_OK) || stream.avail_in != 0 || stream.avail_out == 0) {
        Fail(result);
    }
    piece.size = capacity - stream.avail_out;
    return piece;
}

}  // namespace

std::vector<std::uint8_t> ZlibCompressInPieces(std::size_t size, const ByteSource& source, int strategy,
                                               std::size_t pieceBytes)
{
    const std::size_t count = std::max<std::size_t>(1, (size + pieceBytes - 1) / pieceBytes);
    std::vector<Piece> pieces(count);
    tbb::parallel_for(std::size_t{0}, count, [&](std::size_t i) {
        pieces[i] = DeflatePiece(source, size, i * pieceBytes, std::min(size, (i + 1) * pieceBytes), strategy);
    });

    // Compression method 8 with a 32 KiB window, then the level class zlib
    // writes for its default level and the check bits that make the pair a
    // multiple of 31.
    constexpr unsigned kMethodAndWindow = 0x08 | (kWindowBits - 8) << 4;
    constexpr unsigned kDefaultLevelClass = 2 << 6;
    constexpr unsigned kFlags = kDefaultLevelClass + 31 - (kMethodAndWindow << 8 | kDefaultLevelClass) % 31;
    std::size_t total = 2 + 4;
    for (const Piece& piece : pieces) {
        total += piece.size;
    }
    std::vector<std::uint8_t> stream;
    stream.reserve(total);
    stream.push_back(static_cast<std::uint8_t>(kMethodAndWindow));
    stream.push_back(static_cast<std::uint8_t>(kFlags));
    uLong adler = adler32(0, nullptr, 0);
    for (std::size_t i = 0; i < count; ++i) {
        stream.insert(stream.end(), pieces[i].deflated.get(), pieces[i].deflated.get() + pieces[i].size);
        const std::size_t length = std::min(size, (i + 1) * pieceBytes) - i * pieceBytes;
        adler = adler32_combine(adler, pieces[i].adler, static_cast<z_off_t>(length));
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        stream.push_back(static_cast<std::uint8_t>(adler >> shift));
    }
    return stream;
}

}  // namespace skelvane
