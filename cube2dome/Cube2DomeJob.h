// The Cube2Dome batch render: numbered dome images from a range of cube-face
// frames, on a job worker (engine/jobs/JobControl.h).
//
// What the job does, as a one-frame-at-a-time loop would:
// 1. Take the face size F from the faces of the first frame (every face in
//    use must read and be F x F) and build one face map for the whole job
//    (in its packed per-frame form, engine/projection/FaceGatherMap.h).
//    No map: "CalcPlane Failed!" through the reporter, and the job fails.
// 2. For frame i = 0 .. total - 1 (frame number fromFrame + i): if a stop was
//    requested, end stopped; else load the faces in use (decoding only the
//    part of each that the map reads, when the faces allow), render the dome
//    through the map, name it with MakeOutputPath, write it (never replacing
//    an existing entry), and report Progress(i). With skipExisting a frame
//    whose plain name (no numbered suffix) is taken is left alone: it is not
//    rendered, Skipped(i) is reported before its Progress(i), and a frame
//    whose name another writer takes while it is being made is dropped the
//    same way, so retried and overlapping shards never write variants.
// 3. End finished, or stopped when a stop was requested. A face that cannot
//    be read or has another size, a render that fails, or a dome that cannot
//    be written ends the job failed, with the reason naming the file; the
//    frames before it stay on disk.
// With a video file the domes go into that one video instead, once per
// encoder pass, Progress(k) counting over all passes from 0; its end is that
// of pano2dome/VideoJobOutput.h (nothing under the target name after a
// failure or a stop before the first frame, the frames so far after a
// later stop).
//
// The frames overlap in the ordered frame pipeline (engine/jobs/
// FramePipeline.h): decode, render and encode of several frames run at once,
// each dome staged under a hidden name in the save folder, but names are
// given out, files published and progress reported strictly in frame order,
// so every file, name, progress call and end call is the one the loop above
// would make. A stop finishes, writes and reports the frame in progress (the
// one after the last reported); frames started ahead of it are abandoned and
// their staged files removed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "cube2dome/Cube2DomeSettings.h"
#include "cube2dome/FaceFrameList.h"
#include "engine/jobs/JobControl.h"
#include "engine/projection/CubeDomeSampler.h"
#include "imageio/ImageCodec.h"
#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoEncoderSettings.h"

namespace skelvane {

namespace cube2dome_text {
inline constexpr const char* kCalcPlaneFailed = "CalcPlane Failed!";
inline constexpr const char* kFinished = "The FullDome render have finished! ";
inline constexpr const char* kFailed = "Some error has happened, the FullDome render is not finished! ";
inline constexpr const char* kStopped = "User break down the task! ";
}  // namespace cube2dome_text

// The parameter block of one job, copied at Begin: the job owns its copy, and
// the face lists it shares are immutable, so the settings can change while it
// runs. The face size is not part of it: the job takes it from its own faces.
struct CCube2DomeJob {
    int fromFrame = 1;   // first frame, 1-based
    int toFrame = 1;     // last frame, inclusive
    int outputSize = 0;  // N of the N x N dome image
    int serialDigits = 3;
    int faceCount = 5;   // 5 leaves out Bottom
    int fov = 180;       // degrees
    float verticalAngle = 60.0f;   // tilt, degrees
    float horizontalAngle = 0.0f;  // pan, degrees
    std::string saveDir;
    std::string outputFormat = "bmp";
    // Depth, dither and compression of the dome images; the depth defaults
    // to the faces' own where the format holds it.
    ImageWriteOptions writeOptions;
    std::string outputPrefix = "FullDome_";
    std::array<FaceFrameListPtr, kCubeFaceCount> faceLists;
    bool skipExisting = false;  // leave frames whose file exists alone
    // How faces are read: the plain default is the face map's nearest pixel,
    // anything else goes through the sampler (engine/projection/CubeDomeSampler.h).
    CubeSampling sampling;
    // One video of the domes instead of numbered images: a container of
    // video.stream (pano2dome/VideoFormat.h); empty for images.
    std::string videoPath;
    FrameRate frameRate = 25;
    VideoEncoderSettings video;
    int encoderThreads = 0;  // 0: the encoder's own choice
};

// The job of accepted settings with the page's view.
CCube2DomeJob MakeCube2DomeJob(const Cube2DomeSettings& settings, int fov, float horizontalAngle);

// For a video job: why its stream cannot carry the domes at its rate
// (CheckVideoTarget), or nothing; nothing for an image job.
std::optional<std::string> CheckCube2DomeVideo(const CCube2DomeJob& job);

// Why numbered dome images cannot be written with the job's write options
// ("The dome images cannot be written: JPEG files hold 8-bit samples
// only."); none for a video job.
std::optional<std::string> CheckCube2DomeImages(const CCube2DomeJob& job);

// Progress steps of the job: its frames, once per encoder pass of a video.
std::int64_t Cube2DomeProgressRange(const CCube2DomeJob& job);

// The job's body: runs on a job worker and returns its outcome. Progress(i)
// is reported for each written frame, i counted from 0 within the job.
JobOutcome Cube2DomeRenderThread(const CCube2DomeJob& job, CJobContext& context);

// Starts a copy of `job` on `control`; false while another job runs there.
bool BeginCube2DomeJob(CJobControl& control, const CCube2DomeJob& job, CJobObserver& observer,
                       CMessageReporter& reporter = DefaultReporter());

}  // namespace skelvane
