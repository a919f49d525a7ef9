#include "engine/image/BandedImage.h"

#include <algorithm>
#include <stdexcept>

#include "engine/jobs/ParallelRows.h"

namespace skelvane {

CBandedImage::CBandedImage(std::int32_t width, std::int32_t height, ChannelType type, std::int32_t bandRows,
                           RenderBand render)
    : m_height(height), m_render(std::move(render)), m_fileType(type)
{
    if (bandRows <= 0 || !m_band.Create(width, std::min(bandRows, height), type, BlockContents::Unspecified)) {
        throw std::invalid_argument("a banded image needs rows and columns");
    }
}

void CBandedImage::Rows(std::int32_t first, std::int32_t count, std::uint8_t** rows)
{
    if (first < m_first || first + count > m_end) {
        if (const RowBandCheck check = t_rowBandCheck; check.call) {
            check.call(check.context);
        }
        m_first = first;
        m_end = std::min(first + BandRows(), m_height);
        m_render(m_first, m_end, m_band);
    }
    for (std::int32_t i = 0; i < count; ++i) {
        rows[i] = m_band.Row(first - m_first + i);
    }
}

}  // namespace skelvane
