#include "pano2dome/SequenceVideoJob.h"

#include <memory>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/FramePipeline.h"
#include "pano2dome/VideoEncoder.h"
#include "pano2dome/VideoFormat.h"
#include "pano2dome/VideoJobOutput.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

struct SequenceFrame {
    explicit SequenceFrame(std::int64_t framePosition) : position(framePosition) {}
    std::int64_t position;
    CImageBuffer image;
};

std::string ReadFrame(const fs::path& path, CImageBuffer& image)
{
    std::string why;
    if (!image.Load(path, &why)) {
        return "Cannot read the dome image " + path.string() + ": " + why + ".";
    }
    return {};
}

// The checks of CheckSequenceVideoJob; the first image's size on success.
std::optional<std::string> CheckAndMeasure(const CSequenceVideoJob& job, int& width, int& height)
{
    if (job.frames.empty()) {
        return "There are no frames to encode.";
    }
    if (job.videoPath.empty()) {
        return "No video file was given.";
    }
    CImageBuffer first;
    if (std::string failure = ReadFrame(job.frames.front(), first); !failure.empty()) {
        return failure;
    }
    width = first.GetWidth();
    height = first.GetHeight();
    return CheckVideoTarget({job.video.stream, LowerVideoExtension(job.videoPath), width, height, job.frameRate});
}

class SequenceVideoRun {
public:
    SequenceVideoRun(const CSequenceVideoJob& job, CJobContext& context) : m_job(job), m_context(context) {}

    JobOutcome Run()
    {
        if (const std::optional<std::string> refusal = CheckAndMeasure(m_job, m_width, m_height)) {
            return JobOutcome::Failed(*refusal);
        }
        if (m_context.StopRequested()) {
            return JobOutcome::Stopped();
        }

        CVideoEncoder encoder;
        const VideoOutputSpec spec{m_job.videoPath, m_width, m_height, m_job.frameRate, m_job.video,
                                   m_job.encoderThreads};
        if (std::string failure = OpenVideoOutput(encoder, spec); !failure.empty()) {
            return JobOutcome::Failed(failure);
        }
        const auto frames = static_cast<std::int64_t>(m_job.frames.size());
        return RunVideoPasses(m_context, encoder, m_job.videoPath, frames, [&](std::int64_t progressBase) {
            return RunPass(encoder, frames, progressBase);
        });
    }

private:
    std::string RunPass(CVideoEncoder& encoder, std::int64_t frames, std::int64_t progressBase)
    {
        const std::int64_t frameBytes = std::int64_t{4} * m_width * m_height;
        const FramePipelineOptions options{frames, FramesInFlight(m_context.Concurrency(), 2, frameBytes),
                                           progressBase};
        return RunFramePipeline<SequenceFrame>(
            m_context, options,
            {[](std::int64_t position) { return std::make_unique<SequenceFrame>(position); },
             [&](SequenceFrame& frame) { return Read(frame); },
             [&](SequenceFrame& frame) {
                 return AddVideoFrame(encoder, frame.image, frame.position, m_job.videoPath);
             }});
    }

    std::string Read(SequenceFrame& frame)
    {
        const fs::path& path = m_job.frames[static_cast<std::size_t>(frame.position)];
        if (std::string failure = ReadFrame(path, frame.image); !failure.empty()) {
            return failure;
        }
        if (frame.image.GetWidth() != m_width || frame.image.GetHeight() != m_height) {
            return "The dome image " + path.string() + " is " + std::to_string(frame.image.GetWidth()) + " x " +
                   std::to_string(frame.image.GetHeight()) + " pixels; the video is " + std::to_string(m_width) +
                   " x " + std::to_string(m_height) + ".";
        }
        return {};
    }

    const CSequenceVideoJob& m_job;
    CJobContext& m_context;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace

std::optional<std::string> CheckSequenceVideoJob(const CSequenceVideoJob& job)
{
    int width = 0;
    int height = 0;
    return CheckAndMeasure(job, width, height);
}

std::int64_t SequenceVideoProgressRange(const CSequenceVideoJob& job)
{
    const auto frames = static_cast<std::int64_t>(job.frames.size());
    return job.video.twoPass && TakesTwoPasses(job.video.stream.codec) ? 2 * frames : frames;
}

JobOutcome SequenceVideoRenderThread(const CSequenceVideoJob& job, CJobContext& context)
{
    SequenceVideoRun run(job, context);
    return run.Run();
}

bool BeginSequenceVideoJob(CJobControl& control, const CSequenceVideoJob& job, CJobObserver& observer,
                           CMessageReporter& reporter)
{
    return control.Begin([job](CJobContext& context) { return SequenceVideoRenderThread(job, context); }, observer,
                         reporter);
}

}  // namespace skelvane
