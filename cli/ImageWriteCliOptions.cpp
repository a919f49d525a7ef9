#include "cli/ImageWriteCliOptions.h"

#include <vector>


namespace skelvane::cli {
namespace {

constexpr FileCompression kCompressions[] = {FileCompression::Default, FileCompression::None, FileCompression::Lzw,
                                             FileCompression::Deflate, FileCompression::Zip, FileCompression::Piz,
                                             FileCompression::Dwaa};

}  // namespace

void AddImageWriteOptions(CLI::App& command, ImageWriteCliOptions& options)
{
    command
        .add_option("--depth", options.depth,
                    "Sample depth of the dome images: 8, 16 (half floats in OpenEXR) or float (default: the "
                    "input's where the format holds it, else the format's deepest)")
        ->check(CLI::IsMember({"8", "16", "float"}));
    command
        .add_option("--dither", options.dither,
                    "How deep pictures are rounded into 8-bit files: ordered (a fixed pattern), diffusion "
                    "(error diffusion) or none")
        ->check(CLI::IsMember({"ordered", "diffusion", "none"}))
        ->capture_default_str();
    std::vector<std::string> names;
    for (FileCompression compression : kCompressions) {
        names.emplace_back(CompressionName(compression));
    }
    command
        .add_option("--compression", options.compression,
                    "Compression of TIFF (none, lzw, deflate) and OpenEXR (none, zip, piz, dwaa) images; default: "
                    "deflate and zip")
        ->check(CLI::IsMember(names, CLI::ignore_case))
        ->capture_default_str();
    command.add_flag("--tiles", options.tiles, "TIFF and OpenEXR images in tiles instead of strips or scan lines");
}

ImageWriteOptions MakeImageWriteOptions(const ImageWriteCliOptions& options)
{
    ImageWriteOptions write;
    if (options.depth == "8") {
        write.depth = kDepth8;
    } else if (options.depth == "16") {
        write.depth = kDepth16;
    } else if (options.depth == "float") {
        write.depth = kDepthFloat;
    }
    write.dither = options.dither == "diffusion" ? Dither::Diffusion
                   : options.dither == "none"    ? Dither::None
                                                 : Dither::Ordered;
    for (FileCompression compression : kCompressions) {
        if (CompressionName(compression) == options.compression) {
            write.compression = compression;
        }
    }
    write.tiled = options.tiles;
    return write;
}

}  // namespace skelvane::cli
