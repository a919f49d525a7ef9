#include "cli/PngLevelOption.h"

#include <string>

#include "imageio/ParallelZlib.h"

namespace skelvane::cli {

void AddPngLevelOption(CLI::App& command, int& level)
{
    command
        .add_option("--png-level", level,
                    "PNG compression, " + std::to_string(kMinDeflateLevel) + " (none, fastest) to " +
                        std::to_string(kMaxDeflateLevel) + " (smallest files, slowest)")
        ->check(CLI::Range(kMinDeflateLevel, kMaxDeflateLevel))
        ->capture_default_str();
}

}  // namespace skelvane::cli
