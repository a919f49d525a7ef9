// The image formats the program reads and writes. Every list of formats (the
// command line's choices, the settings' checks, the desktop's file filters and
// choice lists) comes from here: a new format is its codec file and one line
// in ImageCodecRegistry.cpp.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imageio/ImageCodec.h"

namespace skelvane {

enum class CodecUse { Read, Write };

// Every format, in the order choice lists show them.
std::span<const ImageCodec* const> ImageCodecs();

// The format one of whose extensions is `extension` ("jpeg", ".JPG": any
// case, with or without the dot), or null.
const ImageCodec* FindImageCodec(std::string_view extension);

// The format a file name selects by its extension: the last dot of the final
// component and what follows (a dot in a folder's name is no extension). The
// contents are never looked at. Null when no format has that extension.
const ImageCodec* ImageCodecForPath(const std::filesystem::path& path);

// Whether `format` (an extension, as FindImageCodec takes it) names a format
// that can be read, or written.
bool IsImageFormat(std::string_view format, CodecUse use);

// The short names of the formats that can be read, or written, in registry
// order ("bmp", "jpg", "png", "tga"). A `first` that names one of them puts
// it in front (a page whose default is JPEG lists JPEG first).
std::vector<std::string> FormatChoices(CodecUse use, std::string_view first = {});

// The names of those formats for a sentence: "BMP, JPEG, PNG or TGA".
std::string FormatNames(CodecUse use);

// The size of the picture in `path` from its header, for formats whose
// header is read apart from the pixels (JPEG); false for other formats and
// for files whose header the decoder would refuse. Load decides whether the
// file is a picture: a header that reads may still belong to a damaged file.
bool ReadImageSize(const std::filesystem::path& path, std::int32_t& width, std::int32_t& height);

// Why `path` cannot be read or written as an image because of its name:
// "a file name ending in .gif is not an image format that can be read (bmp,
// jpg, png, tga)". Empty when a format can.
std::string UnsupportedFormatReason(const std::filesystem::path& path, CodecUse use);

// Why `codec` cannot write with `options`: "JPEG files hold 8-bit samples
// only", "TIFF files are compressed with none, lzw or deflate, not piz".
// Empty when it can.
std::string UnsupportedWriteOptionsReason(const ImageCodec& codec, const ImageWriteOptions& options);

// Encodes `image` in the format `path`'s extension selects, the bytes Save
// writes to that file. The image is converted to the file's depth on the way
// (ImageWriteOptions), left as it was. False with the reason where given.
bool EncodeImageFile(CImageBuffer& image, const std::filesystem::path& path, const ImageWriteOptions& options,
                     std::vector<std::uint8_t>& out, std::string* reason = nullptr);
bool EncodeImageFile(CImageBuffer& image, const std::filesystem::path& path, std::vector<std::uint8_t>& out,
                     std::string* reason = nullptr);

// Whether the format of `path` writes pictures taken a band of rows at a time
// (EncodeImageRows) with `options`, for pictures of channel type `type` read
// from files at `fileType`: such a picture is written at its own channel
// type, never converted.
bool EncodesInBands(const std::filesystem::path& path, const ImageWriteOptions& options, ChannelType type,
                    ChannelType fileType);

// EncodeImageFile for a picture made a band at a time, where EncodesInBands
// says the format can: the bytes EncodeImageFile gives for the whole picture.
bool EncodeImageRows(CBandedImage& image, const std::filesystem::path& path, const ImageWriteOptions& options,
                     std::vector<std::uint8_t>& out, std::string* reason = nullptr);

}  // namespace skelvane
