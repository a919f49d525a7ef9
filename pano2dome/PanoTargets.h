// What already stands where a Pano2Dome job would write. The command line
// refuses to replace any of it unless told to, and never replaces the job's
// own input; the desktop asks first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "pano2dome/Pano2DomeJob.h"

namespace skelvane {

struct PanoTargets {
    // The job's targets that exist: the image or the video, or the frame
    // files it would write (the first of them in frame order, and how many).
    std::int64_t existing = 0;
    std::string firstExisting;
    // A target that is the input file itself (the same file, under any name).
    std::string input;
    // Frame mode: frame files of the job's format numbered past the whole
    // sweep's end, older frames that the job leaves as they are.
    std::int64_t beyond = 0;
    std::int64_t firstBeyond = -1;
    std::int64_t lastBeyond = -1;
};

// Looks at the targets of a job that CheckPano2DomeJob accepts; `input` is
// the panorama's file. A frame folder is listed once, whatever the sweep's
// length.
PanoTargets FindPanoTargets(const CPano2DomeJob& job, const std::filesystem::path& input);

}  // namespace skelvane
