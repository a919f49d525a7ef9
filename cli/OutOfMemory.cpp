#include "cli/OutOfMemory.h"

#include <cstdio>

#include "engine/image/PixelBlock.h"
#include "engine/jobs/MessageReporter.h"

namespace skelvane::cli {

std::string OutOfMemoryReport(const std::bad_alloc& failure, const std::string& doing)
{
    std::string report = kOutOfMemoryText;
    report += '\n';
    report += doing;
    if (const auto* sized = dynamic_cast<const CAllocationFailure*>(&failure)) {
        char amount[96];
        std::snprintf(amount, sizeof amount, " asked for a block of %lld bytes (%lld MiB).",
                      static_cast<long long>(sized->Bytes()), static_cast<long long>(sized->Bytes() >> 20));
        report += amount;
    } else {
        report += " asked for more memory than there is.";
    }
    return report;
}

}  // namespace skelvane::cli
