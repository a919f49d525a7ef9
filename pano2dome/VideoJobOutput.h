// The video end of a render job, the same for every job that writes one (a
// panorama's sweep, a cube sequence, a folder of numbered domes):
// 1. OpenVideoOutput configures the encoder in the designed order (stream,
//    size, rate, passes, quality, key frames) and opens the file.
// 2. RunVideoPasses hands the job's frames to the encoder once per pass: the
//    job's `runPass` delivers each frame with AddVideoFrame, in order, and
//    reports progress from `progressBase` on (frames x pass).
// 3. The end: a failure drops the encoder unclosed, which leaves no file; a
//    stop before any frame of the written pass leaves no file either; a stop
//    later closes the video with the frames written so far; otherwise the
//    video is closed and finished. A stop between passes closes the video of
//    the pass before; once a pass has begun (and thrown away the video of the
//    pass before) it keeps at least its first frame, so the job never ends
//    with nothing after reporting frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/jobs/JobControl.h"
#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoEncoder.h"
#include "pano2dome/VideoEncoderSettings.h"

namespace skelvane {

class CImageBuffer;

struct VideoOutputSpec {
    std::string path;
    int width = 0;
    int height = 0;
    FrameRate rate;
    VideoEncoderSettings video;
    int threads = 0;  // encoder threads; 0 the libraries' choice
    Dither dither = Dither::Ordered;  // deep frames into an 8-bit stream
};

// Nothing, or the job's failure text: "Cannot write the video PATH: why."
std::string OpenVideoOutput(CVideoEncoder& encoder, const VideoOutputSpec& spec);

// Nothing, or the job's failure text naming the frame (0-based `position`).
std::string AddVideoFrame(CVideoEncoder& encoder, const CImageBuffer& frame, std::int64_t position,
                          const std::string& path);

// Runs every pass of an opened encoder and ends it as above. `runPass`
// returns the first failure of its pass, or nothing.
JobOutcome RunVideoPasses(CJobContext& context, CVideoEncoder& encoder, const std::string& path,
                          std::int64_t framesPerPass, const std::function<std::string(std::int64_t progressBase)>& runPass);

}  // namespace skelvane
