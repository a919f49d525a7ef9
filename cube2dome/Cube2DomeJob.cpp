#include "cube2dome/Cube2DomeJob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include <tbb/parallel_for.h>

#include "engine/projection/FaceGatherMap.h"
#include "cube2dome/OutputPath.h"
#include "engine/image/DepthConversion.h"
#include "engine/image/PageAdvice.h"
#include "engine/image/PixelBlock.h"
#include "engine/jobs/FramePipeline.h"
#include "engine/projection/CubeDomeProjector.h"
#include "imageio/FilePaths.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/StagedImageFile.h"
#include "pano2dome/VideoEncoder.h"
#include "pano2dome/VideoFormat.h"
#include "pano2dome/VideoJobOutput.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace cube2dome_text;

// Each face position keeps its own pixel blocks from frame to frame, so that
// a face the dome reads half of, or not at all, holds only the pages of that
// half (BlockUse); at 8192² that is a few hundred megabytes less at the peak.
constexpr int kFaceBlockUse = 1;  // face k allocates as use kFaceBlockUse + k

// Gives back the pages of the rows of `face` outside `used`: the first
// frame's faces are decoded whole, to learn their size, and would otherwise
// bring all their pages to the blocks that the later frames' faces reuse.
void DiscardRowsOutside(CImageBuffer& face, const PixelRect& used)
{
    const std::int32_t height = face.GetHeight();
    const std::int32_t top = used.IsEmpty() ? height : std::clamp(used.top, 0, height);
    const std::int32_t bottom = used.IsEmpty() ? height : std::clamp(used.bottom, top, height);
    auto discard = [&face](std::int32_t first, std::int32_t end) {
        if (first < end) {
            // Rows are stored bottom-up: the span starts at the last row's.
            std::uint8_t* low = std::min(face.Row(first), face.Row(end - 1));
            DiscardPages(low, static_cast<std::size_t>(end - first) * static_cast<std::size_t>(face.Stride()));
        }
    };
    discard(0, top);
    discard(bottom, height);
}

// The face whose file depth the dome is rendered and written at: the deepest.
const CImageBuffer& DeepestFace(const CubeFaces& faces)
{
    const CImageBuffer* deepest = &faces[Left];
    for (const CImageBuffer& face : faces) {
        if (!face.IsEmpty() && !Holds(deepest->FileChannelType(), face.FileChannelType())) {
            deepest = &face;
        }
    }
    return *deepest;
}

void ReleaseFaces(CubeFaces& faces)
{
    for (CImageBuffer& face : faces) {
        face.Release();
    }
}

// Rows of a dome written a band at a time: a band of an 8192² dome is a
// megabyte, which stays in the cache from the render to the encoder.
constexpr std::int32_t kDomeBandRows = 32;

// One frame's faces and its dome: staged as a file, or held for the video.
struct CubeFrame {
    explicit CubeFrame(int framePosition) : position(framePosition) {}
    int position;          // 0-based within the job
    bool loaded = false;   // faces already loaded (the first frame's are)
    CubeFaces faces;
    std::unique_ptr<CImageBuffer> dome;
    CStagedImageFile file;
    std::string stageError;  // why the dome could not be staged
};

class Cube2DomeRun {
public:
    Cube2DomeRun(const CCube2DomeJob& job, CJobContext& context)
        : m_job(job), m_context(context), m_projector(context.Reporter()),
          m_folder(TrimTrailingSeparators(job.saveDir)), m_stagingFolder(m_folder.empty() ? "/" : m_folder)
    {
    }

    JobOutcome Run();

private:
    long long FrameIndex(int position) const { return static_cast<long long>(m_job.fromFrame) + position - 1; }
    fs::path FacePath(int k, int position) const
    {
        return m_job.faceLists[k]->At(static_cast<std::size_t>(FrameIndex(position)));
    }
    std::string CheckParameters() const;
    std::string LoadFaces(int position, CubeFaces& faces);
    std::string CheckFaceSizes(int position, const CubeFaces& faces) const;
    fs::path PlainPath(int position) const
    {
        return OutputPathWithSuffix(m_folder, m_job.outputPrefix, FrameIndex(position), m_job.serialDigits,
                                    m_job.outputFormat, 0);
    }
    std::string LoadFrameFaces(CubeFrame& frame);
    std::string NotRendered(const CubeFrame& frame) const;
    std::string RenderDome(CubeFrame& frame);
    // Whether the frame's dome can go to its file a band of rows at a time,
    // rendered as the encoder takes the rows, instead of as a whole image.
    bool WritesInBands(const CubeFrame& frame) const;
    FrameStepResult StageInBands(CubeFrame& frame);
    FrameStepResult Produce(CubeFrame& frame);
    FrameStepResult Publish(CubeFrame& frame);
    JobOutcome RunPipeline(std::unique_ptr<CubeFrame> first);
    JobOutcome RunVideo(std::unique_ptr<CubeFrame> first);

    const CCube2DomeJob& m_job;
    CJobContext& m_context;
    CCubeDomeProjector m_projector;
    const std::string m_folder;
    const fs::path m_stagingFolder;
    int m_total = 0;
    std::int32_t m_faceSize = 0;
    FaceMap m_map;
    CFaceGatherMap m_gather;
    bool m_gatherReady = false;
    CCubeDomeSampler m_sampler;
    bool m_samplerReady = false;
};

std::string Cube2DomeRun::CheckParameters() const
{
    if (m_job.faceCount != 5 && m_job.faceCount != 6) {
        return "The face count must be 5 or 6, not " + std::to_string(m_job.faceCount) + ".";
    }
    if (m_job.saveDir.empty() && m_job.videoPath.empty()) {
        return "No save folder was given.";
    }
    if (m_job.sampling.supersample < 1 || m_job.sampling.supersample > kMaxSupersample) {
        return "The supersampling must be 1 to " + std::to_string(kMaxSupersample) + ", not " +
               std::to_string(m_job.sampling.supersample) + ".";
    }
    if (m_job.fromFrame < 1) {
        return "Frames are numbered from 1; the first frame was " + std::to_string(m_job.fromFrame) + ".";
    }
    if (std::optional<std::string> refusal = CheckCube2DomeImages(m_job)) {
        return *refusal;
    }
    // A not-a-number angle would render domes of nothing but black.
    if (!std::isfinite(m_job.verticalAngle) || !std::isfinite(m_job.horizontalAngle)) {
        char text[96];
        std::snprintf(text, sizeof text, "The view angles must be numbers; the tilt was %g and the pan %g.",
                      m_job.verticalAngle, m_job.horizontalAngle);
        return text;
    }
    for (int k = 0; k < m_job.faceCount; ++k) {
        const FaceFrameListPtr& list = m_job.faceLists[k];
        if (!list || list->Count() < static_cast<std::size_t>(m_job.toFrame)) {
            return "The " + std::string(kFaceWords[k]) + " face has " + std::to_string(list ? list->Count() : 0) +
                   " frames; the job needs frame " + std::to_string(m_job.toFrame) + ".";
        }
    }
    return {};
}

std::string Cube2DomeRun::LoadFaces(int position, CubeFaces& faces)
{
    std::array<bool, kCubeFaceCount> loaded{};
    std::array<std::string, kCubeFaceCount> reasons;
    // Once the map is there, only the part of each face it reads is decoded.
    tbb::parallel_for(0, m_job.faceCount, [&](int k) {
        m_context.Checkpoint();
        const BlockUse use(kFaceBlockUse + k);
        const PixelRect& region = m_samplerReady  ? m_sampler.UsedRect(k)
                                  : m_gatherReady ? m_gather.UsedRect(k)
                                                  : kWholeImage;
        loaded[k] = faces[k].LoadRegion(FacePath(k, position), region, &reasons[k]);
    });
    for (int k = 0; k < m_job.faceCount; ++k) {
        if (!loaded[k]) {
            return "Cannot read the face file " + FacePath(k, position).string() + ": " + reasons[k] + ".";
        }
    }
    // The renders read faces of one channel type: a cube of mixed depths is
    // rendered at its deepest, the others widened exactly.
    const ChannelType type = CubeFacesChannelType(faces);
    for (CImageBuffer& face : faces) {
        if (!face.IsEmpty() && face.GetChannelType() != type) {
            ConvertChannelType(face, type);
        }
    }
    return {};
}

std::string Cube2DomeRun::CheckFaceSizes(int position, const CubeFaces& faces) const
{
    for (int k = 0; k < m_job.faceCount; ++k) {
        if (faces[k].GetWidth() != m_faceSize || faces[k].GetHeight() != m_faceSize) {
            return "The face file " + FacePath(k, position).string() + " is " + std::to_string(faces[k].GetWidth()) +
                   " x " + std::to_string(faces[k].GetHeight()) + " pixels; the faces of this job are " +
                   std::to_string(m_faceSize) + " x " + std::to_string(m_faceSize) + ".";
        }
    }
    return {};
}

std::string Cube2DomeRun::LoadFrameFaces(CubeFrame& frame)
{
    if (frame.loaded) {
        return {};
    }
    if (std::string failure = LoadFaces(frame.position, frame.faces); !failure.empty()) {
        return failure;
    }
    if (std::string failure = CheckFaceSizes(frame.position, frame.faces); !failure.empty()) {
        return failure;
    }
    frame.loaded = true;
    return {};
}

std::string Cube2DomeRun::NotRendered(const CubeFrame& frame) const
{
    return "Frame " + std::to_string(FrameIndex(frame.position) + 1) + " could not be rendered.";
}

std::string Cube2DomeRun::RenderDome(CubeFrame& frame)
{
    if (std::string failure = LoadFrameFaces(frame); !failure.empty()) {
        return failure;
    }
    frame.dome = m_samplerReady  ? m_sampler.Render(frame.faces, m_context.Reporter())
                 : m_gatherReady ? m_gather.Render(frame.faces, m_context.Reporter())
                                 : m_projector.RenderCubeDome(frame.faces, m_faceSize, m_map.get(), m_job.outputSize);
    if (frame.dome) {
        frame.dome->TakeDescriptionFrom(DeepestFace(frame.faces));
    }
    ReleaseFaces(frame.faces);
    if (!frame.dome) {
        return NotRendered(frame);
    }
    return {};
}

bool Cube2DomeRun::WritesInBands(const CubeFrame& frame) const
{
    return (m_samplerReady || m_gatherReady) &&
           EncodesInBands("frame." + m_job.outputFormat, m_job.writeOptions, CubeFacesChannelType(frame.faces),
                          DeepestFace(frame.faces).FileChannelType());
}

FrameStepResult Cube2DomeRun::StageInBands(CubeFrame& frame)
{
    const ChannelType fileType = DeepestFace(frame.faces).FileChannelType();
    // The sampler reads its own copy of the faces, which lets them go before
    // the dome is written.
    CSampledFaces sampled;
    std::unique_ptr<CBandedImage> dome;
    if (m_samplerReady) {
        try {
            sampled = m_sampler.Prepare(frame.faces);
        } catch (const std::bad_alloc&) {
            m_context.Reporter().ShowMessage(kOutOfMemoryText);
        }
        ReleaseFaces(frame.faces);
        dome = m_sampler.RenderInBands(sampled, kDomeBandRows, m_context.Reporter());
    } else {
        dome = m_gather.RenderInBands(frame.faces, kDomeBandRows, m_context.Reporter());
    }
    if (!dome) {
        ReleaseFaces(frame.faces);
        return NotRendered(frame);
    }
    dome->SetFileChannelType(fileType);
    m_context.Checkpoint();
    frame.file.Stage(*dome, m_stagingFolder, m_job.outputFormat, m_job.writeOptions, frame.stageError);
    dome.reset();
    ReleaseFaces(frame.faces);
    return {};
}

FrameStepResult Cube2DomeRun::Produce(CubeFrame& frame)
{
    if (m_job.skipExisting && FileExists(PlainPath(frame.position))) {
        return FrameStepResult::LeftAlone();
    }
    if (std::string failure = LoadFrameFaces(frame); !failure.empty()) {
        return failure;
    }
    if (WritesInBands(frame)) {
        return StageInBands(frame);
    }
    if (std::string failure = RenderDome(frame); !failure.empty()) {
        return failure;
    }
    m_context.Checkpoint();
    frame.file.Stage(*frame.dome, m_stagingFolder, m_job.outputFormat, m_job.writeOptions, frame.stageError);
    frame.dome.reset();
    return {};
}

FrameStepResult Cube2DomeRun::Publish(CubeFrame& frame)
{
    const long long index = FrameIndex(frame.position);
    if (m_job.skipExisting) {
        // The plain name only: a frame that another writer made meanwhile is
        // theirs, never a numbered variant.
        const fs::path plain = PlainPath(frame.position);
        if (!frame.file.IsStaged()) {
            return "Cannot write the dome image " + plain.string() + ": " + frame.stageError + ".";
        }
        std::string error;
        switch (frame.file.Publish(plain, error)) {
        case CStagedImageFile::PublishResult::Published:
            return {};
        case CStagedImageFile::PublishResult::NameTaken:
            return FrameStepResult::LeftAlone();
        case CStagedImageFile::PublishResult::Failed:
            break;
        }
        return "Cannot write the dome image " + plain.string() + ": " + error + ".";
    }
    // Each NameTaken means another writer took the name after it was checked;
    // the next MakeOutputPath sees that entry, so this ends within the bound.
    for (int attempt = 0; attempt <= kMaxOutputSuffix; ++attempt) {
        const auto path =
            MakeOutputPath(m_folder, m_job.outputPrefix, index, m_job.serialDigits, m_job.outputFormat);
        if (!path) {
            break;
        }
        if (!frame.file.IsStaged()) {
            return "Cannot write the dome image " + path->string() + ": " + frame.stageError + ".";
        }
        std::string error;
        switch (frame.file.Publish(*path, error)) {
        case CStagedImageFile::PublishResult::Published:
            return {};
        case CStagedImageFile::PublishResult::NameTaken:
            continue;
        case CStagedImageFile::PublishResult::Failed:
            return "Cannot write the dome image " + path->string() + ": " + error + ".";
        }
    }
    return "Cannot name the dome image " +
           OutputPathWithSuffix(m_folder, m_job.outputPrefix, index, m_job.serialDigits, m_job.outputFormat, 0)
               .string() +
           ": it and its " + std::to_string(kMaxOutputSuffix) + " numbered variants all exist.";
}

JobOutcome Cube2DomeRun::Run()
{
    if (const std::string problem = CheckParameters(); !problem.empty()) {
        return JobOutcome::Failed(problem);
    }
    if (const std::optional<std::string> refusal = CheckCube2DomeVideo(m_job)) {
        return JobOutcome::Failed(*refusal);
    }
    const long long total = static_cast<long long>(m_job.toFrame) - m_job.fromFrame + 1;
    if (total <= 0) {
        return JobOutcome::Finished();
    }
    m_total = static_cast<int>(total);
    if (m_context.StopRequested()) {
        return JobOutcome::Stopped();
    }
    if (m_job.videoPath.empty()) {
        RemoveStaleStagingFiles(m_stagingFolder);
    }
    m_context.Checkpoint();

    // The face size comes from the job's own first frame, not from whatever
    // the preview loaded last.
    auto first = std::make_unique<CubeFrame>(0);
    if (std::string failure = LoadFaces(0, first->faces); !failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    m_faceSize = first->faces[Left].GetWidth();
    if (std::string failure = CheckFaceSizes(0, first->faces); !failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    first->loaded = true;

    // Dome sides beyond the image limit are refused like any size the
    // builder refuses, before a map of that size is attempted. Filtered or
    // supersampled frames go through the sampler, which holds no per-pixel
    // map; plain ones through the packed gather map, and the face map serves
    // faces too large for it.
    if (!m_job.sampling.IsPlain()) {
        try {
            m_samplerReady = m_job.outputSize <= kMaxImageSide &&
                             m_sampler.Plan(m_faceSize, m_job.outputSize, m_job.fov, m_job.verticalAngle,
                                            m_job.horizontalAngle, m_job.sampling);
        } catch (const std::bad_alloc&) {
            m_context.Reporter().ShowMessage(kOutOfMemoryText);
        }
    } else if (m_job.outputSize <= kMaxImageSide) {
        try {
            m_gatherReady = m_gather.BuildFromView(m_faceSize, m_job.outputSize, m_job.fov, m_job.verticalAngle,
                                                   m_job.horizontalAngle);
        } catch (const std::bad_alloc&) {
            m_context.Reporter().ShowMessage(kOutOfMemoryText);
        }
        if (!m_gatherReady) {
            m_map = m_projector.BuildCubeDomeMap(m_faceSize, m_job.outputSize, m_job.fov, m_job.verticalAngle,
                                                 m_job.horizontalAngle);
        }
    }
    if (m_samplerReady || m_gatherReady) {
        for (int k = 0; k < m_job.faceCount; ++k) {
            DiscardRowsOutside(first->faces[k], m_samplerReady ? m_sampler.UsedRect(k) : m_gather.UsedRect(k));
        }
    }
    if (!m_samplerReady && !m_gatherReady && !m_map) {
        m_context.Reporter().ShowMessage(kCalcPlaneFailed);
        return JobOutcome::Failed(std::string(kCalcPlaneFailed) + " No face map for faces of " +
                                  std::to_string(m_faceSize) + " pixels and a dome of " +
                                  std::to_string(m_job.outputSize) + " pixels.");
    }
    return m_job.videoPath.empty() ? RunPipeline(std::move(first)) : RunVideo(std::move(first));
}

JobOutcome Cube2DomeRun::RunPipeline(std::unique_ptr<CubeFrame> first)
{
    // One frame more than threads, fewer for large domes; each costs its faces
    // and its dome in memory. Domes written in bands are not held, but faces
    // usually grow with the dome: two frames of the 4096² faces of an 8192²
    // dome hold half a gigabyte.
    const std::int64_t domeBytes = std::int64_t{BitCountOf(CubeFacesChannelType(first->faces)) / 8} *
                                   m_job.outputSize * m_job.outputSize;
    const FramePipelineOptions options{m_total, FramesInFlight(m_context.Concurrency(), 1, domeBytes)};
    const std::string failure = RunFramePipeline<CubeFrame>(
        m_context, options,
        {[&](std::int64_t position) {
             return position == 0 ? std::move(first) : std::make_unique<CubeFrame>(static_cast<int>(position));
         },
         [&](CubeFrame& frame) { return Produce(frame); }, [&](CubeFrame& frame) { return Publish(frame); }});
    if (!failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    return m_context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
}

JobOutcome Cube2DomeRun::RunVideo(std::unique_ptr<CubeFrame> first)
{
    const std::string& path = m_job.videoPath;
    CVideoEncoder encoder;
    const VideoOutputSpec spec{path, m_job.outputSize, m_job.outputSize, m_job.frameRate, m_job.video,
                               m_job.encoderThreads, m_job.writeOptions.dither};
    if (std::string failure = OpenVideoOutput(encoder, spec); !failure.empty()) {
        return JobOutcome::Failed(failure);
    }
    const std::int64_t domeBytes = std::int64_t{BitCountOf(CubeFacesChannelType(first->faces)) / 8} *
                                   m_job.outputSize * m_job.outputSize;
    return RunVideoPasses(m_context, encoder, path, m_total, [&](std::int64_t progressBase) {
        const FramePipelineOptions options{m_total, FramesInFlight(m_context.Concurrency(), 1, domeBytes),
                                           progressBase};
        return RunFramePipeline<CubeFrame>(
            m_context, options,
            {[&](std::int64_t position) {
                 // The first pass starts with the faces the job loaded for their size.
                 return position == 0 && first ? std::move(first)
                                               : std::make_unique<CubeFrame>(static_cast<int>(position));
             },
             [&](CubeFrame& frame) {
                 std::string failure = RenderDome(frame);
                 if (failure.empty()) {
                     encoder.FitFrameToStream(*frame.dome);  // here, several frames at once
                 }
                 return FrameStepResult(failure);
             },
             [&](CubeFrame& frame) { return FrameStepResult(AddVideoFrame(encoder, *frame.dome, frame.position, path)); }});
    });
}

}  // namespace

std::optional<std::string> CheckCube2DomeImages(const CCube2DomeJob& job)
{
    const ImageCodec* codec = FindImageCodec(job.outputFormat);
    if (!codec || !job.videoPath.empty()) {
        return std::nullopt;
    }
    if (const std::string why = UnsupportedWriteOptionsReason(*codec, job.writeOptions); !why.empty()) {
        return "The dome images cannot be written: " + why + ".";
    }
    return std::nullopt;
}

std::optional<std::string> CheckCube2DomeVideo(const CCube2DomeJob& job)
{
    if (job.videoPath.empty()) {
        return std::nullopt;
    }
    return CheckVideoTarget(
        {job.video.stream, LowerVideoExtension(job.videoPath), job.outputSize, job.outputSize, job.frameRate});
}

std::int64_t Cube2DomeProgressRange(const CCube2DomeJob& job)
{
    const std::int64_t frames = std::max<std::int64_t>(0, std::int64_t{job.toFrame} - job.fromFrame + 1);
    const bool twoPasses = !job.videoPath.empty() && job.video.twoPass && TakesTwoPasses(job.video.stream.codec);
    return twoPasses ? 2 * frames : frames;
}

CCube2DomeJob MakeCube2DomeJob(const Cube2DomeSettings& settings, int fov, float horizontalAngle)
{
    CCube2DomeJob job;
    job.fromFrame = static_cast<int>(settings.fromFrame);
    job.toFrame = static_cast<int>(settings.toFrame);
    job.outputSize = static_cast<int>(std::min(settings.outputWidth, static_cast<unsigned>(kMaxImageSide) + 1));
    job.serialDigits = settings.serialDigits;
    job.faceCount = settings.faceCount;
    job.fov = fov;
    job.verticalAngle = settings.verticalAngle;
    job.horizontalAngle = horizontalAngle;
    job.saveDir = settings.saveDir;
    job.outputFormat = settings.outputFormat;
    job.writeOptions = settings.writeOptions;
    job.outputPrefix = settings.outputPrefix;
    job.faceLists = settings.faceList;
    job.sampling = settings.sampling;
    if (settings.writeVideo) {
        job.videoPath = settings.videoPath;
    }
    job.frameRate = settings.frameRate;
    return job;
}

JobOutcome Cube2DomeRenderThread(const CCube2DomeJob& job, CJobContext& context)
{
    Cube2DomeRun run(job, context);
    return run.Run();
}

bool BeginCube2DomeJob(CJobControl& control, const CCube2DomeJob& job, CJobObserver& observer,
                       CMessageReporter& reporter)
{
    return control.Begin([job](CJobContext& context) { return Cube2DomeRenderThread(job, context); }, observer,
                         reporter);
}

}  // namespace skelvane
