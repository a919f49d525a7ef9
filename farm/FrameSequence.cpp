#include "farm/FrameSequence.h"

#include "cube2dome/OutputPath.h"
#include "imageio/FilePaths.h"
#include "pano2dome/Pano2DomeJob.h"

namespace skelvane::farm {

std::filesystem::path CFrameSequence::FramePath(long long frame) const
{
    if (command == "cube2dome") {
        return OutputPathWithSuffix(folder, prefix, frame - 1, digits, format, 0);
    }
    return PanoFramePath(folder, frame, format);
}

bool CFrameSequence::IsDone(long long frame) const
{
    return FileExists(FramePath(frame));
}

}  // namespace skelvane::farm
