// --png-level: how hard the PNG files a render writes are compressed.
#pragma once

#include <CLI/CLI.hpp>

namespace skelvane::cli {

// Adds the option to a render command; `level` keeps the default until given.
void AddPngLevelOption(CLI::App& command, int& level);

}  // namespace skelvane::cli
