// The channel types of image pixels and the rules by which one becomes another.
//
// Every image holds four channels a pixel in the memory order blue, green,
// red, alpha. An 8-bit image is the classic one: one little-endian word
// 0xAARRGGBB a pixel. A 16-bit image holds four little-endian 16-bit words a
// pixel (a 64-bit "bitmap"), a float image four 32-bit floats (128 bits).
// Opaque alpha is 255, 65535 and 1.0; the dome renderers write all zeros
// outside the fisheye circle at every depth.
//
// Values are kept as they are between depths: 8 and 16 bits span 0..1 as
// 0..255 and 0..65535, floats hold 0..1 and may go beyond it (light brighter
// than white, from EXR files), which integer depths clamp.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

namespace skelvane {

enum class ChannelType { Uint8, Uint16, Float };

struct Pixel16 {
    std::uint16_t blue;
    std::uint16_t green;
    std::uint16_t red;
    std::uint16_t alpha;
    friend bool operator==(const Pixel16&, const Pixel16&) = default;
};

struct PixelF {
    float blue;
    float green;
    float red;
    float alpha;
    friend bool operator==(const PixelF&, const PixelF&) = default;
};

static_assert(sizeof(Pixel16) == 8 && sizeof(PixelF) == 16);

// Calls `f` with a null pointer to the pixel type of `type` (a 32-bit
// pixel is one 0xAARRGGBB word), for code written once over all three.
template <class F>
decltype(auto) WithPixelType(ChannelType type, F&& f)
{
    switch (type) {
    case ChannelType::Uint16:
        return f(static_cast<Pixel16*>(nullptr));
    case ChannelType::Float:
        return f(static_cast<PixelF*>(nullptr));
    case ChannelType::Uint8:
    default:
        return f(static_cast<std::uint32_t*>(nullptr));
    }
}

// Opaque black, what a missing cube face shows with the nearest pixel.
template <class P>
constexpr P OpaqueBlackPixel()
{
    if constexpr (std::is_same_v<P, std::uint32_t>) {
        return 0xFF000000u;
    } else if constexpr (std::is_same_v<P, Pixel16>) {
        return {0, 0, 0, 65535};
    } else {
        return {0.0f, 0.0f, 0.0f, 1.0f};
    }
}

// Bits a pixel of each channel type takes in an image.
constexpr int BitCountOf(ChannelType type)
{
    return type == ChannelType::Uint8 ? 32 : type == ChannelType::Uint16 ? 64 : 128;
}

// "8-bit", "16-bit", "float": for messages.
constexpr std::string_view ChannelTypeName(ChannelType type)
{
    return type == ChannelType::Uint8 ? "8-bit" : type == ChannelType::Uint16 ? "16-bit" : "float";
}

// Whether pixels of `type` hold everything pixels of `other` hold (floats
// hold both integer depths exactly).
constexpr bool Holds(ChannelType type, ChannelType other)
{
    return static_cast<int>(type) >= static_cast<int>(other);
}

// ---- one sample ----

// 8 bits to 16 exactly: 255 becomes 65535, and every 8-bit value comes back
// from Round16To8 unchanged.
constexpr std::uint16_t Widen8To16(std::uint32_t value)
{
    return static_cast<std::uint16_t>(value * 257u);
}

// The nearest 8-bit value of a 16-bit one.
constexpr std::uint8_t Round16To8(std::uint32_t value)
{
    return static_cast<std::uint8_t>((value * 255u + 32767u) / 65535u);
}

constexpr float FloatOf8(std::uint32_t value)
{
    return static_cast<float>(value) / 255.0f;
}

constexpr float FloatOf16(std::uint32_t value)
{
    return static_cast<float>(value) / 65535.0f;
}

// A float clamped into 0..1, not-a-number as 0.
inline float ClampUnit(float value)
{
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

// The nearest 16-bit value of a float, clamped.
inline std::uint16_t RoundFloatTo16(float value)
{
    return static_cast<std::uint16_t>(ClampUnit(value) * 65535.0f + 0.5f);
}

// The nearest 8-bit value of a float, clamped.
inline std::uint8_t RoundFloatTo8(float value)
{
    return static_cast<std::uint8_t>(ClampUnit(value) * 255.0f + 0.5f);
}

// ---- whole pixels, to and from 8-bit words ----

inline Pixel16 Pixel16OfWord(std::uint32_t word)
{
    return {Widen8To16(word & 255u), Widen8To16(word >> 8 & 255u), Widen8To16(word >> 16 & 255u),
            Widen8To16(word >> 24)};
}

inline PixelF PixelFOfWord(std::uint32_t word)
{
    return {FloatOf8(word & 255u), FloatOf8(word >> 8 & 255u), FloatOf8(word >> 16 & 255u), FloatOf8(word >> 24)};
}

inline std::uint32_t WordOfPixel16(const Pixel16& p)
{
    return std::uint32_t{Round16To8(p.alpha)} << 24 | std::uint32_t{Round16To8(p.red)} << 16 |
           std::uint32_t{Round16To8(p.green)} << 8 | Round16To8(p.blue);
}

inline std::uint32_t WordOfPixelF(const PixelF& p)
{
    return std::uint32_t{RoundFloatTo8(p.alpha)} << 24 | std::uint32_t{RoundFloatTo8(p.red)} << 16 |
           std::uint32_t{RoundFloatTo8(p.green)} << 8 | RoundFloatTo8(p.blue);
}

inline PixelF PixelFOf16(const Pixel16& p)
{
    return {FloatOf16(p.blue), FloatOf16(p.green), FloatOf16(p.red), FloatOf16(p.alpha)};
}

inline Pixel16 Pixel16OfF(const PixelF& p)
{
    return {RoundFloatTo16(p.blue), RoundFloatTo16(p.green), RoundFloatTo16(p.red), RoundFloatTo16(p.alpha)};
}

}  // namespace skelvane
