// What an image file says about the meaning of its values, carried from the
// file that was read to the files written from it. Nothing here converts a
// value: a dome keeps its input's values, and its files repeat the input's
// description so that the next program reads them as the input meant them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skelvane {

// CIE xy of the white point and of the red, green and blue primaries.
struct Chromaticities {
    std::array<float, 2> white;
    std::array<float, 2> red;
    std::array<float, 2> green;
    std::array<float, 2> blue;
    friend bool operator==(const Chromaticities&, const Chromaticities&) = default;
};

struct ColourDescription {
    std::vector<std::uint8_t> iccProfile;  // an ICC profile, as files embed it
    std::string iccName;                   // its name where the file gives one (PNG requires one)
    // The exponent that encodes light into values (PNG's gAMA: 1 / 2.2 for
    // most pictures, 1 for linear ones); 0 where the file gives none.
    float gamma = 0.0f;
    std::optional<Chromaticities> chromaticities;
    // PNG's sRGB chunk: the values are sRGB, with this rendering intent
    // (0 to 3); -1 where the file says nothing.
    int srgbIntent = -1;
    // The values are proportional to light: EXR files and float TIFFs, and
    // files whose gamma is 1.
    bool linear = false;
    // Colour values are already multiplied by alpha (EXR's convention and
    // TIFF's associated alpha); straight colour otherwise.
    bool premultipliedAlpha = false;

    bool IsEmpty() const
    {
        return iccProfile.empty() && gamma == 0.0f && !chromaticities && srgbIntent < 0 && !linear &&
               !premultipliedAlpha;
    }
    friend bool operator==(const ColourDescription&, const ColourDescription&) = default;
};

// Shared between an input and every image made from it; never changed once
// an image holds it.
using ColourDescriptionPtr = std::shared_ptr<const ColourDescription>;

}  // namespace skelvane
