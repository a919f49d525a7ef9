#include "farm/FarmChunks.h"

#include <algorithm>
#include <charconv>

namespace skelvane::farm {

FrameRange CFarmChunks::Frames(long long chunk) const
{
    const long long first = m_sequence.first + chunk * m_size;
    return {first, std::min(first + m_size - 1, m_sequence.last)};
}

std::string ArraySpec(const std::vector<long long>& chunks, int maxRunning)
{
    std::string spec;
    for (std::size_t i = 0; i < chunks.size();) {
        std::size_t j = i;
        while (j + 1 < chunks.size() && chunks[j + 1] == chunks[j] + 1) {
            ++j;
        }
        if (!spec.empty()) {
            spec += ',';
        }
        spec += std::to_string(chunks[i]);
        if (j > i) {
            spec += '-' + std::to_string(chunks[j]);
        }
        i = j + 1;
    }
    if (maxRunning > 0) {
        spec += '%' + std::to_string(maxRunning);
    }
    return spec;
}

namespace {

bool ParseNumber(std::string_view text, long long& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

std::vector<long long> ParseArraySpec(const std::string& text, long long limit)
{
    std::string_view spec(text);
    spec = spec.substr(0, spec.find('%'));
    std::vector<long long> indices;
    while (!spec.empty()) {
        const std::size_t comma = spec.find(',');
        std::string_view item = spec.substr(0, comma);
        spec = comma == std::string_view::npos ? std::string_view() : spec.substr(comma + 1);

        long long step = 1;
        if (const std::size_t colon = item.find(':'); colon != std::string_view::npos) {
            if (!ParseNumber(item.substr(colon + 1), step) || step == 0) {
                return {};
            }
            item = item.substr(0, colon);
        }
        long long first = 0;
        long long last = 0;
        const std::size_t dash = item.find('-');
        if (!ParseNumber(item.substr(0, dash), first) ||
            !ParseNumber(dash == std::string_view::npos ? item : item.substr(dash + 1), last) || last < first ||
            last >= limit) {
            return {};
        }
        for (long long index = first; index <= last; index += step) {
            indices.push_back(index);
        }
    }
    return indices;
}

}  // namespace skelvane::farm
