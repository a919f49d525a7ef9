// --depth, --dither, --compression and --tiles: how the dome images of a
// render are written, for every command that writes them.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "imageio/ImageCodec.h"

namespace skelvane::cli {

struct ImageWriteCliOptions {
    std::string depth;  // empty: the input's depth where the format holds it
    std::string dither = "ordered";
    std::string compression = "default";
    bool tiles = false;
};

// Adds the options to a render command.
void AddImageWriteOptions(CLI::App& command, ImageWriteCliOptions& options);

// The write options the command line asked for (values its validators let
// through).
ImageWriteOptions MakeImageWriteOptions(const ImageWriteCliOptions& options);

}  // namespace skelvane::cli
