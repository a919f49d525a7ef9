#include "imageio/ImageCodecRegistry.h"

#include <algorithm>
#include <cctype>

#include "imageio/BmpCodec.h"
#include "imageio/ExrCodec.h"
#include "imageio/JpegCodec.h"
#include "imageio/PngCodec.h"
#include "imageio/TgaCodec.h"
#include "imageio/TiffCodec.h"

namespace skelvane {
namespace {

// The registered formats, in the order choice lists show them.
constexpr const ImageCodec* kCodecs[] = {
    &kBmpCodec,
    &kJpegCodec,
    &kPngCodec,
    &kTgaCodec,
    &kTiffCodec,
    &kExrCodec,
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool Offers(const ImageCodec& codec, CodecUse use)
{
    return use == CodecUse::Read ? codec.CanRead() : codec.CanWrite();
}

}  // namespace

std::span<const ImageCodec* const> ImageCodecs()
{
    return kCodecs;
}

const ImageCodec* FindImageCodec(std::string_view extension)
{
    if (extension.starts_with('.')) {
        extension.remove_prefix(1);
    }
    for (const ImageCodec* codec : kCodecs) {
        for (std::string_view known : codec->extensions) {
            if (EqualsIgnoringCase(extension, known)) {
                return codec;
            }
        }
    }
    return nullptr;
}

const ImageCodec* ImageCodecForPath(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return nullptr;
    }
    return FindImageCodec(std::string_view(name).substr(dot));
}

bool IsImageFormat(std::string_view format, CodecUse use)
{
    const ImageCodec* codec = format.empty() ? nullptr : FindImageCodec(format);
    return codec && Offers(*codec, use);
}

std::vector<std::string> FormatChoices(CodecUse use, std::string_view first)
{
    std::vector<std::string> choices;
    for (const ImageCodec* codec : kCodecs) {
        if (Offers(*codec, use)) {
            choices.emplace_back(codec->ShortName());
        }
    }
    const auto leader = std::find(choices.begin(), choices.end(), first);
    std::rotate(choices.begin(), leader, leader == choices.end() ? leader : leader + 1);
    return choices;
}

std::string FormatNames(CodecUse use)
{
    std::vector<std::string_view> names;
    for (const ImageCodec* codec : kCodecs) {
        if (Offers(*codec, use)) {
            names.push_back(codec->name);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 == names.size() ? " or " : ", ";
        }
        text += names[i];
    }
    return text;
}

std::string UnsupportedFormatReason(const std::filesystem::path& path, CodecUse use)
{
    const ImageCodec* codec = ImageCodecForPath(path);
    if (codec && Offers(*codec, use)) {
        return {};
    }
    std::string choices;
    for (const std::string& choice : FormatChoices(use)) {
        choices += choices.empty() ? "" : ", ";
        choices += choice;
    }
    const std::string doing = use == CodecUse::Read ? "read" : "written";
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return "the file name has no extension to tell which image format to use (" + choices + ")";
    }
    const std::string extension = name.substr(dot);
    if (codec) {
        return std::string(codec->name) + " files cannot be " + doing + " (" + choices + " can)";
    }
    return "a file name ending in " + extension + " is not an image format that can be " + doing + " (" + choices +
           ")";
}

namespace {

// "8 or 16", "none, lzw or deflate".
template <class Items, class Name>
std::string Alternatives(const Items& items, Name name)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 == items.size() ? " or " : ", ";
        }
        text += name(items[i]);
    }
    return text;
}

}  // namespace

std::string UnsupportedWriteOptionsReason(const ImageCodec& codec, const ImageWriteOptions& options)
{
    const std::string format(codec.name);
    if (options.depth && !codec.writes.Has(*options.depth)) {
        std::vector<SampleDepth> depths;
        for (SampleDepth depth : {kDepth8, kDepth16, kDepthFloat}) {
            if (codec.writes.Has(depth)) {
                depths.push_back(depth);
            }
        }
        if (depths.size() == 1) {
            return format + " files hold " + std::string(SampleDepthName(depths[0])) + "-bit samples only";
        }
        return format + " files hold samples of " +
               Alternatives(depths, [](SampleDepth d) { return std::string(SampleDepthName(d)); }) +
               " bits, not " + std::string(SampleDepthName(*options.depth));
    }
    if (!codec.WritesCompression(options.compression)) {
        if (codec.compressions.empty()) {
            return format + " files offer no choice of compression";
        }
        return format + " files are compressed with " +
               Alternatives(codec.compressions, [](FileCompression c) { return std::string(CompressionName(c)); }) +
               ", not " + std::string(CompressionName(options.compression));
    }
    if (options.tiled && !codec.writesTiles) {
        return format + " files are not written in tiles";
    }
    return {};
}

}  // namespace skelvane
