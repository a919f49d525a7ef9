// A picture made a band of rows at a time while a writer takes its rows from
// the top down. A writer that needs a few rows at once (the JPEG encoder)
// then never has the whole picture in memory: an 8192² dome costs a band of a
// megabyte instead of 256 MiB, and each row is encoded while it is still in
// the cache the render left it in.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/image/ImageBuffer.h"

namespace skelvane {

class CBandedImage {
public:
    // Makes rows [first, end) of the picture in rows [0, end - first) of
    // `band`, an image of the picture's width and channel type.
    using RenderBand = std::function<void(std::int32_t first, std::int32_t end, CImageBuffer& band)>;

    // Allocates the band up front, so that taking rows allocates nothing
    // (CAllocationFailure when it cannot).
    CBandedImage(std::int32_t width, std::int32_t height, ChannelType type, std::int32_t bandRows,
                 RenderBand render);

    std::int32_t GetWidth() const { return m_band.GetWidth(); }
    std::int32_t GetHeight() const { return m_height; }
    ChannelType GetChannelType() const { return m_band.GetChannelType(); }
    int GetBitCount() const { return m_band.GetBitCount(); }
    std::int32_t BandRows() const { return m_band.GetHeight(); }

    // As CImageBuffer's: files written from it default to this depth.
    ChannelType FileChannelType() const { return m_fileType; }
    void SetFileChannelType(ChannelType type) { m_fileType = type; }

    // Points rows[0 .. count) at rows [first, first + count) of the picture,
    // count being 1 to BandRows(). The pointers hold until the next call.
    // Rows are taken from the top down; a call beyond the band made last
    // makes the band that starts at `first`, after the calling thread's
    // row-band check (a paused job waits there, as between any render's
    // bands).
    void Rows(std::int32_t first, std::int32_t count, std::uint8_t** rows);

private:
    std::int32_t m_height;
    CImageBuffer m_band;
    RenderBand m_render;
    std::int32_t m_first = 0;  // the rows the band holds
    std::int32_t m_end = 0;
    ChannelType m_fileType;
};

}  // namespace skelvane
