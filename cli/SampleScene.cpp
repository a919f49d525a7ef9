#include "cli/SampleScene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "engine/jobs/ParallelRows.h"

namespace skelvane::cli {
namespace {

// 5 x 7 block letters: the letters of the six face names and the digits.
struct Glyph {
    char character;
    std::array<const char*, 7> rows;
};

constexpr Glyph kGlyphs[] = {
    {'A', {"01110", "10001", "10001", "11111", "10001", "10001", "10001"}},
    {'B', {"11110", "10001", "10001", "11110", "10001", "10001", "11110"}},
    {'C', {"01110", "10001", "10000", "10000", "10000", "10001", "01110"}},
    {'E', {"11111", "10000", "10000", "11110", "10000", "10000", "11111"}},
    {'F', {"11111", "10000", "10000", "11110", "10000", "10000", "10000"}},
    {'G', {"01110", "10001", "10000", "10111", "10001", "10001", "01111"}},
    {'H', {"10001", "10001", "10001", "11111", "10001", "10001", "10001"}},
    {'I', {"01110", "00100", "00100", "00100", "00100", "00100", "01110"}},
    {'K', {"10001", "10010", "10100", "11000", "10100", "10010", "10001"}},
    {'L', {"10000", "10000", "10000", "10000", "10000", "10000", "11111"}},
    {'M', {"10001", "11011", "10101", "10101", "10001", "10001", "10001"}},
    {'N', {"10001", "11001", "10101", "10011", "10001", "10001", "10001"}},
    {'O', {"01110", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'P', {"11110", "10001", "10001", "11110", "10000", "10000", "10000"}},
    {'R', {"11110", "10001", "10001", "11110", "10100", "10010", "10001"}},
    {'T', {"11111", "00100", "00100", "00100", "00100", "00100", "00100"}},
    {'0', {"01110", "10001", "10011", "10101", "11001", "10001", "01110"}},
    {'1', {"00100", "01100", "00100", "00100", "00100", "00100", "01110"}},
    {'2', {"01110", "10001", "00001", "00010", "00100", "01000", "11111"}},
    {'3', {"11111", "00010", "00100", "00010", "00001", "10001", "01110"}},
    {'4', {"00010", "00110", "01010", "10010", "11111", "00010", "00010"}},
    {'5', {"11111", "10000", "11110", "00001", "00001", "10001", "01110"}},
    {'6', {"00110", "01000", "10000", "11110", "10001", "10001", "01110"}},
    {'7', {"11111", "00001", "00010", "00100", "01000", "01000", "01000"}},
    {'8', {"01110", "10001", "10001", "01110", "10001", "10001", "01110"}},
    {'9', {"01110", "10001", "10001", "01111", "00001", "00010", "01100"}},
};
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = kGlyphWidth + 1;

const Glyph* FindGlyph(char c)
{
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.character == c) {
            return &glyph;
        }
    }
    return nullptr;  // drawn as a blank
}

constexpr std::array<const char*, kCubeFaceCount> kFaceNames = {"LEFT", "FRONT", "RIGHT", "BACK", "TOP", "BOTTOM"};
// Light colours, one per face, so that dark letters and grid show on all.
constexpr std::array<std::uint32_t, kCubeFaceCount> kFaceColours = {
    0xFFE07878u,  // left: red
    0xFF78C878u,  // front: green
    0xFF788CE6u,  // right: blue
    0xFFE6D264u,  // back: yellow
    0xFF6ED2DCu,  // top: cyan
    0xFFD278D2u,  // bottom: magenta
};
constexpr std::uint32_t kInk = 0xFF141414u;

std::uint32_t Darker(std::uint32_t colour)
{
    const std::uint32_t r = (colour >> 16 & 255u) * 11 / 20;
    const std::uint32_t g = (colour >> 8 & 255u) * 11 / 20;
    const std::uint32_t b = (colour & 255u) * 11 / 20;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

void FillRect(CImageBuffer& image, std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1,
              std::uint32_t colour)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, image.GetWidth());
    y1 = std::min(y1, image.GetHeight());
    for (std::int32_t y = y0; y < y1; ++y) {
        std::uint32_t* row = image.Row32(y);
        std::fill(row + x0, row + std::max(x0, x1), colour);
    }
}

std::int32_t TextWidth(std::string_view text, std::int32_t scale)
{
    return text.empty() ? 0 : (static_cast<std::int32_t>(text.size()) * kGlyphAdvance - 1) * scale;
}

// Draws `text` centred on column centreX with its top at `top`.
void DrawText(CImageBuffer& image, std::string_view text, std::int32_t centreX, std::int32_t top,
              std::int32_t scale, std::uint32_t colour)
{
    std::int32_t left = centreX - TextWidth(text, scale) / 2;
    for (char c : text) {
        if (const Glyph* glyph = FindGlyph(c)) {
            for (int gy = 0; gy < kGlyphHeight; ++gy) {
                for (int gx = 0; gx < kGlyphWidth; ++gx) {
                    if (glyph->rows[gy][gx] == '1') {
                        FillRect(image, left + gx * scale, top + gy * scale, left + (gx + 1) * scale,
                                 top + (gy + 1) * scale, colour);
                    }
                }
            }
        }
        left += kGlyphAdvance * scale;
    }
}

}  // namespace

CImageBuffer DrawSampleFace(int face, int frame, std::int32_t size)
{
    CImageBuffer image;
    if (face < 0 || face >= kCubeFaceCount || !image.Create(size, size)) {
        return image;
    }
    const std::uint32_t colour = kFaceColours[face];
    FillRect(image, 0, 0, size, size, colour);

    // A grid of 8 x 8 cells; its lines meet the neighbouring faces' lines at
    // the cube's edges, which shows seams and orientation at a glance.
    const std::int32_t line = std::max(1, size / 256);
    const std::uint32_t gridColour = Darker(colour);
    for (int n = 1; n < 8; ++n) {
        const std::int32_t at = static_cast<std::int32_t>(static_cast<std::int64_t>(size) * n / 8) - line / 2;
        FillRect(image, at, 0, at + line, size, gridColour);
        FillRect(image, 0, at, size, at + line, gridColour);
    }
    const std::int32_t border = std::max(2, size / 128);
    FillRect(image, 0, 0, size, border, kInk);
    FillRect(image, 0, size - border, size, size, kInk);
    FillRect(image, 0, 0, border, size, kInk);
    FillRect(image, size - border, 0, size, size, kInk);

    // The longest name (BOTTOM) spans about 70 % of the face.
    const std::int32_t nameScale = std::max(1, size * 7 / 10 / TextWidth("BOTTOM", 1));
    const std::int32_t numberScale = std::max(1, nameScale / 2);
    char number[16];
    std::snprintf(number, sizeof number, "%04d", frame);
    const std::int32_t nameHeight = kGlyphHeight * nameScale;
    const std::int32_t numberHeight = kGlyphHeight * numberScale;
    const std::int32_t gap = numberScale * 3;
    const std::int32_t top = (size - nameHeight - gap - numberHeight) / 2;
    DrawText(image, kFaceNames[face], size / 2, top, nameScale, kInk);
    DrawText(image, number, size / 2, top + nameHeight + gap, numberScale, kInk);
    return image;
}

CImageBuffer DrawSamplePanorama(const CubeFaces& faces, std::int32_t width, std::int32_t height)
{
    CImageBuffer pano;
    const std::int32_t faceSize = faces[Left].GetWidth();
    if (width < 2 || height < 2 || faceSize < 2 || !pano.Create(width, height)) {
        return pano;
    }
    constexpr double kPi = 3.14159265358979323846;
    const float halfFace = static_cast<float>(faceSize - 1) / 2.0f;
    ForEachRowBand(height, width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t py = first; py < end; ++py) {
            // Latitude grows downwards: -90 degrees (zenith, -Y) on the top row.
            const double latitude = kPi * py / (height - 1) - kPi / 2;
            std::uint32_t* row = pano.Row32(py);
            for (std::int32_t px = 0; px < width; ++px) {
                // Longitude from +X towards +Z; the middle column looks along
                // +Z (the front), columns to its right turn towards +X.
                const double longitude = 1.5 * kPi - 2.0 * kPi * px / (width - 1);
                const Direction d{static_cast<float>(std::cos(latitude) * std::cos(longitude) * halfFace),
                                  static_cast<float>(std::sin(latitude) * halfFace),
                                  static_cast<float>(std::cos(latitude) * std::sin(longitude) * halfFace)};
                const FaceMapEntry hit = cube_geometry::DirectionToCubeFace(d, halfFace);
                if (hit.u == kOutsideCircle && hit.v == kOutsideCircle) {
                    row[px] = 0xFF000000u;
                    continue;
                }
                const CImageBuffer& face = faces[static_cast<unsigned>(hit.face) % kCubeFaceCount];
                const auto x = static_cast<std::int32_t>(std::clamp(hit.u + 0.5f, 0.0f, static_cast<float>(faceSize - 1)));
                const auto y = static_cast<std::int32_t>(std::clamp(hit.v + 0.5f, 0.0f, static_cast<float>(faceSize - 1)));
                row[px] = face.GetPixel(x, y);
            }
        }
    });
    return pano;
}

}  // namespace skelvane::cli
