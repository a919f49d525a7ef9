#include "pano2dome/Pano2DomeJob.h"

#include <algorithm>
#include <climits>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "engine/jobs/FramePipeline.h"
#include "engine/projection/PanoDomeProjector.h"
#include "imageio/FilePaths.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/StagedImageFile.h"
#include "pano2dome/SharpMapAhead.h"
#include "pano2dome/VideoEncoder.h"
#include "pano2dome/VideoJobOutput.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace pano2dome_text;

const std::string& TargetOf(const CPano2DomeJob& job)
{
    return job.mode == kPanoFrames ? job.frameDir : job.mode == kPanoVideo ? job.videoPath : job.imagePath;
}

// Where the job's files and their staging files go: the frame folder, or the
// image's or the video's folder.
fs::path FolderWrittenBy(const CPano2DomeJob& job)
{
    if (job.mode == kPanoFrames) {
        const std::string folder = TrimTrailingSeparators(job.frameDir);
        return folder.empty() ? fs::path("/") : fs::path(folder);
    }
    const fs::path parent = fs::path(TargetOf(job)).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// One frame of a sweep: its dome, or in frame mode the dome's staged file.
struct SweepFrame {
    SweepFrame(std::int64_t framePosition, float frameAngle) : position(framePosition), angle(frameAngle) {}
    std::int64_t position;  // 0-based within the pass
    float angle;            // pan, degrees
    std::unique_ptr<CImageBuffer> dome;
    bool renderedWithItsGroup = false;  // the dome, if any, came from the group's render
    CStagedImageFile file;
    std::string stageError;  // why the dome could not be staged
};
using SweepStep = std::function<FrameStepResult(SweepFrame&)>;

class Pano2DomeRun {
public:
    Pano2DomeRun(const CPano2DomeJob& job, CJobContext& context, CPanoProgressBar* bar)
        : m_job(job), m_context(context), m_bar(bar), m_projector(context.Reporter())
    {
    }

    JobOutcome Run();

private:
    JobOutcome RenderImage();
    JobOutcome RenderFrames();
    JobOutcome RenderVideo();
    std::string PrepareMap();
    bool RendersInGroups() const { return m_job.sharp && m_job.supersample == 1 && m_groupSize > 1; }
    void TakeGroupDome(SweepFrame& frame, const CPanoSweep& sweep);
    bool FrameIsLeftAlone(std::int64_t position) const;
    std::string RenderInto(SweepFrame& frame);
    std::string FramePath(const std::string& folder, const SweepFrame& frame) const
    {
        return PanoFramePath(folder, m_firstFrame + frame.position, m_job.frameFormat);
    }
    // One pass over the job's frames of the sweep through the ordered frame
    // pipeline; returns the first failure, or nothing.
    std::string RunPass(std::int64_t progressBase, const SweepStep& produce, const SweepStep& deliver);

    const CPano2DomeJob& m_job;
    CJobContext& m_context;
    CPanoProgressBar* m_bar;
    CPanoDomeProjector m_projector;
    const CImageBuffer* m_panorama = nullptr;  // the job's, at its own depth
    CImageBuffer m_working;                    // empty in a sharp sweep
    PanoMap m_map;
    std::int64_t m_firstFrame = 0;  // the sweep's frame at position 0
    std::int64_t m_frameCount = 0;  // frames rendered per pass
    // A sharp sweep renders its frames this many at a time; the domes of the
    // current group wait here, by position from m_groupStart, until their
    // frames start. A frame a shard leaves alone is not in its group's render.
    std::int64_t m_groupSize = 1;
    std::int64_t m_groupStart = 0;
    std::vector<std::unique_ptr<CImageBuffer>> m_groupDomes;
    std::vector<bool> m_inGroupRender;
};

// The domes a sharp sweep renders together at most, and the memory they may
// take: 8-bit domes of 2048 pixels render four at a time, of 4096 pixels two,
// larger ones alone. Together the frames fetch each panorama line a band of
// the dome reads once instead of once a frame; it pays where the panorama is
// much finer than the dome, when the lines a frame reads do not stay in the
// cache until the next frame.
inline constexpr std::int64_t kMostGroupFrames = 4;
inline constexpr std::int64_t kGroupDomeBytes = std::int64_t{128} << 20;

std::int64_t SharpGroupSize(std::int64_t domeBytes)
{
    return std::clamp<std::int64_t>(kGroupDomeBytes / domeBytes, 1, kMostGroupFrames);
}

JobOutcome Pano2DomeRun::Run()
{
    if (const std::optional<std::string> refusal = CheckPano2DomeJob(m_job)) {
        return JobOutcome::Failed(*refusal);
    }
    if (m_context.StopRequested()) {
        return JobOutcome::Stopped();
    }
    m_panorama = m_job.panorama.get();
    const PanoFrameSpan frames = PanoFramesOf(m_job);
    m_firstFrame = frames.first;
    m_frameCount = frames.count;
    RemoveStaleStagingFiles(FolderWrittenBy(m_job));
    switch (m_job.mode) {
    case kPanoImage:
        return RenderImage();
    case kPanoFrames:
        return RenderFrames();
    case kPanoVideo:
        return RenderVideo();
    default:
        // Ending "finished" after doing nothing would report a failure as success.
        return JobOutcome::Failed("There is no render mode " + std::to_string(m_job.mode) + ".");
    }
}

JobOutcome Pano2DomeRun::RenderImage()
{
    const auto fov = static_cast<std::int32_t>(m_job.fov);
    std::unique_ptr<CImageBuffer> dome =
        m_job.supersample > 1
            ? m_projector.RenderPanoDomeSupersampled(*m_panorama, m_job.outputWidth, fov, m_job.verticalAngle,
                                                     m_job.horizontalAngle, m_job.supersample, PanoWrap::Still)
            : m_projector.RenderPanoDomeDirect(*m_panorama, m_job.outputWidth, fov, m_job.verticalAngle,
                                               m_job.horizontalAngle);
    if (!dome) {
        return JobOutcome::Failed("The dome image could not be rendered.");
    }
    dome->TakeDescriptionFrom(*m_job.panorama);
    m_context.Checkpoint();
    if (std::string error; !dome->Save(m_job.imagePath, m_job.writeOptions, &error)) {
        return JobOutcome::Failed("Cannot write the dome image " + m_job.imagePath + ": " + error + ".");
    }
    return m_context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
}

std::string Pano2DomeRun::PrepareMap()
{
    const std::int32_t n = m_job.outputWidth;
    const auto fov = static_cast<std::int32_t>(m_job.fov);
    if (m_job.sharp && m_job.supersample > 1) {
        return {};  // sub-samples are placed per frame, from no map
    }
    if (m_job.sharp) {
        m_groupSize = SharpGroupSize(std::int64_t{m_panorama->BytesPerPixel()} * n * n);
        const SharpMapKey key{m_panorama->GetWidth(), m_panorama->GetHeight(), n, fov, m_job.verticalAngle};
        if (m_job.sharpMapAhead) {
            m_map = m_job.sharpMapAhead->Take(key);
        }
        if (!m_map) {
            m_map = m_projector.BuildPanoDomeSharpMap(key.panoWidth, key.panoHeight, n, fov, key.tilt);
        }
    } else {
        if (!PrepareWorkingPanorama(*m_panorama, n, m_working)) {
            return "The panorama cannot be resampled to " + std::to_string(2 * n) + " x " + std::to_string(n) +
                   " pixels.";
        }
        m_context.Checkpoint();
        if (m_job.supersample > 1) {
            return {};
        }
        m_map = m_projector.BuildPanoDomeMap(2 * n, n, n, fov, m_job.verticalAngle);
    }
    if (!m_map) {
        return "No pano map for a dome of " + std::to_string(n) + " pixels and a field of view of " +
               std::to_string(m_job.fov) + " degrees.";
    }
    m_context.Checkpoint();
    return {};
}

bool Pano2DomeRun::FrameIsLeftAlone(std::int64_t position) const
{
    return m_job.mode == kPanoFrames && m_job.skipExisting &&
           FileExists(PanoFramePath(TrimTrailingSeparators(m_job.frameDir), m_firstFrame + position,
                                    m_job.frameFormat));
}

// The first frame of a group renders the group's domes, all but those of
// files a shard leaves alone; every frame of the group takes its own. The
// pans are the sweep's own, accumulated from `sweep`, which stands at this
// frame.
void Pano2DomeRun::TakeGroupDome(SweepFrame& frame, const CPanoSweep& sweep)
{
    if (frame.position % m_groupSize == 0) {
        m_groupStart = frame.position;
        const std::int64_t count = std::min(m_groupSize, m_frameCount - frame.position);
        std::vector<float> pans;
        std::vector<std::int64_t> rendered;
        CPanoSweep ahead = sweep;
        for (std::int64_t k = 0; k < count; ++k, ahead.Advance()) {
            if (!FrameIsLeftAlone(frame.position + k)) {
                pans.push_back(ahead.Angle());
                rendered.push_back(k);
            }
        }
        m_groupDomes.clear();
        m_groupDomes.resize(static_cast<std::size_t>(count));
        m_inGroupRender.assign(static_cast<std::size_t>(count), false);
        for (const std::int64_t k : rendered) {
            m_inGroupRender[static_cast<std::size_t>(k)] = true;
        }
        if (!pans.empty()) {
            auto domes = m_projector.RenderPanoDomeSharpFrames(*m_panorama, m_map.get(), m_job.outputWidth, pans);
            for (std::size_t k = 0; k < domes.size(); ++k) {
                m_groupDomes[static_cast<std::size_t>(rendered[k])] = std::move(domes[k]);
            }
        }
    }
    // A group that failed to render fails each of its frames; a frame left
    // out of it is rendered alone if its file is wanted after all.
    const auto k = static_cast<std::size_t>(frame.position - m_groupStart);
    frame.dome = std::move(m_groupDomes[k]);
    frame.renderedWithItsGroup = m_inGroupRender[k];
}

std::string Pano2DomeRun::RenderInto(SweepFrame& frame)
{
    // A frame of a group has its dome from the group's render, or none when that failed.
    if (!frame.renderedWithItsGroup && m_job.supersample > 1) {
        frame.dome = m_projector.RenderPanoDomeSupersampled(
            m_job.sharp ? *m_panorama : m_working, m_job.outputWidth, static_cast<std::int32_t>(m_job.fov),
            m_job.verticalAngle, frame.angle, m_job.supersample, m_job.sharp ? PanoWrap::Still : PanoWrap::Sweep);
    } else if (!frame.renderedWithItsGroup) {
        frame.dome = m_job.sharp
                         ? m_projector.RenderPanoDomeSharp(*m_panorama, m_map.get(), m_job.outputWidth, frame.angle)
                         : m_projector.RenderPanoDome(m_working, m_map.get(), m_job.outputWidth, frame.angle);
    }
    if (!frame.dome) {
        return "Frame " + std::to_string(frame.position) + " at " + std::to_string(frame.angle) +
               " degrees could not be rendered.";
    }
    frame.dome->TakeDescriptionFrom(*m_job.panorama);
    return {};
}

std::string Pano2DomeRun::RunPass(std::int64_t progressBase, const SweepStep& produce, const SweepStep& deliver)
{
    CPanoSweep sweep(m_job.fromAngle, m_job.toAngle, m_job.duration, m_job.frameRate);
    sweep.AdvanceTo(m_firstFrame);
    // One frame more than threads keeps every thread busy while a frame waits
    // at the ordered end; the second covers a file being encoded.
    const std::int64_t domeBytes =
        std::int64_t{m_panorama->BytesPerPixel()} * m_job.outputWidth * m_job.outputWidth;
    const FramePipelineOptions options{m_frameCount, FramesInFlight(m_context.Concurrency(), 2, domeBytes),
                                       progressBase};
    std::string failure = RunFramePipeline<SweepFrame>(m_context, options,
                                        {[&](std::int64_t position) {
                                             // The angle is accumulated here, in frame order.
                                             auto frame = std::make_unique<SweepFrame>(position, sweep.Angle());
                                             if (RendersInGroups()) {
                                                 TakeGroupDome(*frame, sweep);
                                             }
                                             sweep.Advance();
                                             return frame;
                                         },
                                         produce, deliver});
    m_groupDomes.clear();  // what a stop left of the last group
    return failure;
}

JobOutcome Pano2DomeRun::RenderFrames()
{
    if (std::string failure = PrepareMap(); !failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    const std::string folder = TrimTrailingSeparators(m_job.frameDir);
    const fs::path stagingFolder = FolderWrittenBy(m_job);
    if (m_bar) {
        m_bar->SetRange(m_frameCount);
    }
    std::string failure;
    if (!m_context.StopRequested()) {
        failure = RunPass(
            0,
            [&](SweepFrame& frame) {
                if (m_job.skipExisting && FileExists(FramePath(folder, frame))) {
                    return FrameStepResult::LeftAlone();
                }
                std::string problem = RenderInto(frame);
                if (problem.empty()) {
                    m_context.Checkpoint();
                    frame.file.Stage(*frame.dome, stagingFolder, m_job.frameFormat, m_job.writeOptions,
                                     frame.stageError);
                    frame.dome.reset();
                }
                return FrameStepResult(problem);
            },
            [&](SweepFrame& frame) -> FrameStepResult {
                const std::string path = FramePath(folder, frame);
                if (!frame.file.IsStaged()) {
                    return "Cannot write the dome image " + path + ": " + frame.stageError + ".";
                }
                std::string error;
                if (!m_job.skipExisting) {
                    if (!frame.file.PublishReplacing(path, error)) {
                        return "Cannot write the dome image " + path + ": " + error + ".";
                    }
                    return {};
                }
                switch (frame.file.Publish(path, error)) {
                case CStagedImageFile::PublishResult::Published:
                    return {};
                case CStagedImageFile::PublishResult::NameTaken:
                    return FrameStepResult::LeftAlone();  // another writer made it meanwhile
                case CStagedImageFile::PublishResult::Failed:
                    break;
                }
                return "Cannot write the dome image " + path + ": " + error + ".";
            });
    }
    if (m_bar) {
        m_bar->Reset();
    }
    if (!failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    return m_context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
}

JobOutcome Pano2DomeRun::RenderVideo()
{
    const std::string& path = m_job.videoPath;
    CVideoEncoder encoder;
    const VideoOutputSpec spec{path,        m_job.outputWidth,    m_job.outputWidth,        m_job.frameRate,
                               m_job.video, m_job.encoderThreads, m_job.writeOptions.dither};
    if (std::string failure = OpenVideoOutput(encoder, spec); !failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    // Without a map the encoder is dropped unclosed, which leaves no file.
    if (std::string failure = PrepareMap(); !failure.empty()) {
        return JobOutcome::Failed(failure);
    }

    if (m_bar) {
        m_bar->SetRange(m_frameCount * encoder.GetPassCount());
    }
    const JobOutcome outcome =
        RunVideoPasses(m_context, encoder, path, m_frameCount, [&](std::int64_t progressBase) {
            return RunPass(
                progressBase,
                [&](SweepFrame& frame) -> FrameStepResult {
                    std::string problem = RenderInto(frame);
                    if (problem.empty()) {
                        encoder.FitFrameToStream(*frame.dome);  // here, several frames at once
                    }
                    return problem;
                },
                [&](SweepFrame& frame) -> FrameStepResult {
                    return AddVideoFrame(encoder, *frame.dome, frame.position, path);
                });
        });
    if (m_bar) {
        m_bar->Reset();
    }
    return outcome;
}

// A depth or compression the format does not offer, as a sentence.
std::optional<std::string> WriteOptionsRefusal(const ImageCodec& codec, const ImageWriteOptions& options)
{
    std::string reason = UnsupportedWriteOptionsReason(codec, options);
    if (reason.empty()) {
        return std::nullopt;
    }
    reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    return reason + ".";
}

}  // namespace

std::optional<std::string> CheckPano2DomeJob(const CPano2DomeJob& job)
{
    if (!job.panorama || job.panorama->IsEmpty()) {
        return kNoInputImage;
    }
    if (job.outputWidth < 2) {
        return kCheckWidth;  // a dome needs a centre and a rim
    }
    // Every image is bounded by the image limit; in frame and video modes the
    // working panorama is twice as wide as the dome, unless the sweep is sharp.
    const std::int32_t maxWidth = job.mode == kPanoImage || job.sharp ? kMaxImageSide : kMaxImageSide / 2;
    if (job.outputWidth > maxWidth) {
        return kWidthTooBig;
    }
    if (TargetOf(job).empty()) {
        return kEmptyPath;
    }
    if (job.mode == kPanoVideo && job.outputWidth % 2 != 0 && RequiredSideMultiple(job.video.stream.codec) == 2) {
        return kOddWidth;
    }
    if (job.fromAngle > job.toAngle) {
        return kAngleRange;
    }
    if (!std::isfinite(job.verticalAngle) || !std::isfinite(job.horizontalAngle)) {
        return kViewAngles;
    }
    if (job.supersample < 1 || job.supersample > kMaxPanoSupersample) {
        return kSupersampling;
    }
    if (job.mode == kPanoImage) {
        // Found now rather than after the render, when the save would fail.
        if (!UnsupportedFormatReason(job.imagePath, CodecUse::Write).empty()) {
            return kImageFormat;
        }
        return WriteOptionsRefusal(*ImageCodecForPath(job.imagePath), job.writeOptions);
    }
    if (job.mode == kPanoFrames && !IsImageFormat(job.frameFormat, CodecUse::Write)) {
        return kFrameFormat;
    }
    if (job.mode == kPanoFrames) {
        if (std::optional<std::string> refusal = WriteOptionsRefusal(*FindImageCodec(job.frameFormat), job.writeOptions)) {
            return refusal;
        }
    }
    if (job.duration == 0) {
        return kCheckDuration;
    }
    if (!job.frameRate.IsPositive()) {
        return kCheckFrameRate;
    }
    const std::uint64_t frames = FramesInSeconds(job.frameRate, job.duration);
    if (frames > kMaxPanoFrames) {
        return kTooManyFrames;
    }
    if (frames == 0) {
        return kNoFrames;
    }
    const auto count = static_cast<std::int64_t>(frames);
    if (job.mode == kPanoFrames &&
        (job.firstFrame < 0 || job.firstFrame >= count || job.lastFrame < -1 || job.lastFrame >= count ||
         (job.lastFrame >= 0 && job.lastFrame < job.firstFrame))) {
        return "Frames " + std::to_string(job.firstFrame) + " to " + std::to_string(job.lastFrame) +
               " are not all in the sweep, whose " + std::to_string(count) + " frames are numbered 0 to " +
               std::to_string(count - 1) + ".";
    }
    if (job.mode == kPanoVideo) {
        return CheckVideoTarget(
            {job.video.stream, LowerVideoExtension(job.videoPath), job.outputWidth, job.outputWidth, job.frameRate});
    }
    return std::nullopt;
}

CPanoSweep::CPanoSweep(int fromAngle, int toAngle, unsigned duration, FrameRate frameRate)
    : m_frameCount(FramesInSeconds(frameRate, duration)),
      m_degreesPerSecond(duration > 0 ? static_cast<std::uint32_t>(toAngle - fromAngle) / duration : 0),
      // D x den / num: for a whole rate (den 1) exactly the D / rate it always was.
      m_step(frameRate.IsPositive() ? static_cast<float>(static_cast<double>(m_degreesPerSecond) * frameRate.den /
                                                         frameRate.num)
                                    : 0.0f),
      m_angle(static_cast<float>(fromAngle)), m_fromAngle(fromAngle)
{
}

void CPanoSweep::AdvanceTo(std::int64_t frame)
{
    m_angle = static_cast<float>(m_fromAngle);
    for (std::int64_t k = 0; k < frame; ++k) {
        Advance();
    }
}

std::int32_t PanoOutputSize(std::int32_t panoramaHeight, unsigned fov)
{
    if (panoramaHeight <= 0) {
        return 0;
    }
    const float ratio = static_cast<float>(fov) / (180.0f * pano_geometry::kPi);
    const float size = 2.0f * static_cast<float>(panoramaHeight) * std::sqrt(ratio);
    return size < 2147483520.0f ? static_cast<std::int32_t>(size) : INT32_MAX;
}

std::string PanoFrameFileName(std::int64_t index, std::string_view format)
{
    char number[32];
    std::snprintf(number, sizeof number, "%.4lld", static_cast<long long>(index));
    std::string name(number);
    name += '.';
    name += format;
    return name;
}

std::string PanoFramePath(std::string_view frameDir, std::int64_t index, std::string_view format)
{
    return TrimTrailingSeparators(std::string(frameDir)) + "/" + PanoFrameFileName(index, format);
}

PanoSize HalvedPanoramaSize(std::int32_t width, std::int32_t height, std::int32_t outSize)
{
    PanoSize size{width, height};
    if (outSize <= 0) {
        return size;
    }
    while (size.height / outSize > 2) {
        size = {(size.width + 1) / 2, (size.height + 1) / 2};
    }
    return size;
}

bool PrepareWorkingPanorama(const CImageBuffer& panorama, std::int32_t outSize, CImageBuffer& working)
{
    working.Release();
    const int bits = panorama.GetBitCount();
    if (panorama.IsEmpty() || (bits != 32 && bits != 64 && bits != 128) || outSize < 1 ||
        outSize > kMaxImageSide / 2) {
        return false;
    }
    const ChannelType type = panorama.GetChannelType();
    // The halvings read from the panorama itself rather than from a copy of
    // it: the pixels are the same and a large panorama is not copied.
    const std::int32_t halvedHeight = HalvedPanoramaSize(panorama.GetWidth(), panorama.GetHeight(), outSize).height;
    const CImageBuffer* current = &panorama;
    CImageBuffer halved;
    while (current->GetHeight() > halvedHeight) {
        const std::int32_t w = current->GetWidth();
        const std::int32_t h = current->GetHeight();
        CImageBuffer half;
        if (!half.Create((w + 1) / 2, (h + 1) / 2, type)) {
            return false;
        }
        half.StretchFrom(0, 0, half.GetWidth(), half.GetHeight(), *current, 0, 0, w, h);
        halved = std::move(half);
        current = &halved;
    }
    if (!working.Create(2 * outSize, outSize, type)) {
        return false;
    }
    working.StretchFrom(0, 0, 2 * outSize, outSize, *current, 0, 0, current->GetWidth(), current->GetHeight());
    return true;
}

PanoFrameSpan PanoFramesOf(const CPano2DomeJob& job)
{
    const auto all = static_cast<std::int64_t>(FramesInSeconds(job.frameRate, job.duration));
    if (job.mode != kPanoFrames) {
        return {0, all};
    }
    const std::int64_t last = job.lastFrame >= 0 ? job.lastFrame : all - 1;
    return {job.firstFrame, std::max<std::int64_t>(0, last - job.firstFrame + 1)};
}

std::int64_t PanoProgressRange(const CPano2DomeJob& job)
{
    if (job.mode == kPanoImage || CheckPano2DomeJob(job)) {
        return 0;
    }
    const std::int64_t frames = PanoFramesOf(job).count;
    return job.mode == kPanoVideo && job.video.twoPass && TakesTwoPasses(job.video.stream.codec) ? 2 * frames : frames;
}

JobOutcome Pano2DomeRenderThread(const CPano2DomeJob& job, CJobContext& context, CPanoProgressBar* bar)
{
    Pano2DomeRun run(job, context, bar);
    return run.Run();
}

bool BeginPano2DomeJob(CJobControl& control, const CPano2DomeJob& job, CJobObserver& observer,
                       CMessageReporter& reporter, CPanoProgressBar* bar)
{
    return control.Begin([job, bar](CJobContext& context) { return Pano2DomeRenderThread(job, context, bar); },
                         observer, reporter);
}

}  // namespace skelvane
