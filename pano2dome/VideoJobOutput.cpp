#include "pano2dome/VideoJobOutput.h"

#include "engine/image/ImageBuffer.h"

namespace skelvane {

std::string OpenVideoOutput(CVideoEncoder& encoder, const VideoOutputSpec& spec)
{
    const VideoEncoderSettings& video = spec.video;
    encoder.SetStream(video.stream);
    encoder.SetMPEGWidth(spec.width);
    encoder.SetMPEGHeight(spec.height);
    encoder.SetFrameRate(spec.rate);
    encoder.Set2Pass(video.twoPass ? 1 : 0);
    encoder.SetQuality(video.quality);
    encoder.SetKeyFrameSelect(video.keyFrameMode);
    if (video.keyFrameMode == CVideoEncoder::kKeyFramesEvery) {
        encoder.SetKeyFrameEvery(video.keyFrameEvery);
    }
    encoder.SetThreadCount(spec.threads);
    encoder.SetDither(spec.dither);
    if (!encoder.OpenMPEG(spec.path)) {
        return "Cannot write the video " + spec.path + ": " + encoder.GetError() + ".";
    }
    return {};
}

std::string AddVideoFrame(CVideoEncoder& encoder, const CImageBuffer& frame, std::int64_t position,
                          const std::string& path)
{
    if (encoder.AddFrame(frame) == 0) {
        return "Cannot add frame " + std::to_string(position) + " to the video " + path + ": " + encoder.GetError() +
               ".";
    }
    return {};
}

JobOutcome RunVideoPasses(CJobContext& context, CVideoEncoder& encoder, const std::string& path,
                          std::int64_t framesPerPass, const std::function<std::string(std::int64_t progressBase)>& runPass)
{
    std::string failure;
    for (int pass = 0; pass < encoder.GetPassCount() && failure.empty(); ++pass) {
        if (context.StopRequested()) {
            break;  // a stop between passes closes the video of the pass before
        }
        if (pass > 0 && !encoder.StartNextPass()) {
            failure = "Cannot write the video " + path + ": " + encoder.GetError() + ".";
            break;
        }
        failure = runPass(framesPerPass * pass);
    }
    if (!failure.empty()) {
        return JobOutcome::Failed(failure);  // the unclosed encoder removes its file
    }
    const bool stopped = context.StopRequested();
    if (stopped && encoder.GetFrameCount() == 0) {
        return JobOutcome::Stopped();  // nothing to close: no file at all
    }
    if (!encoder.CloseMPEG()) {
        return JobOutcome::Failed("Cannot write the video " + path + ": " + encoder.GetError() + ".");
    }
    return stopped ? JobOutcome::Stopped() : JobOutcome::Finished();
}

}  // namespace skelvane
