// The Pano2Dome render: one dome image, a numbered sequence of dome images or
// a video from one equirectangular panorama, on a job worker
// (engine/jobs/JobControl.h).
//
// What the job does, as a one-frame-at-a-time loop would:
// 1. Image mode: render one N x N dome straight from the full-size panorama
//    (no map, no halving) and write it to the image path. No progress calls.
// 2. Frame and video modes: shrink the panorama to the working panorama of
//    exactly 2N x N pixels (PrepareWorkingPanorama), build one pano map for
//    it, and sweep the pan: F = rate x duration frames, the first at `from`,
//    each next one a step s further (CPanoSweep). Frame i is written as
//    folder/"%.4d".format, replacing a file of that name; in video mode it is
//    handed to the encoder, once per encoder pass. Frame mode may write a
//    part of the sweep, frames firstFrame to lastFrame: each at the angle
//    the whole sweep reaches it with (the steps before it are accumulated,
//    not skipped). With skipExisting a frame whose file exists is left
//    alone (Skipped(k) comes before its Progress(k)), and one whose name
//    another writer takes meanwhile is dropped, never replaced.
//    A sharp sweep makes no working panorama: its map is a sharp map of the
//    full panorama (engine/projection/PanoDomeProjector.h), so frame i is
//    the image mode's dome at frame i's pan, pixel for pixel.
//    Every render works at the panorama's depth (8-bit, 16-bit or float);
//    the writers narrow a deep dome where the file or stream asks for less.
// 3. Progress: the range (F frames per pass) first, one Progress(k) per frame
//    written, k counting over all passes from 0, and a reset when the sweep
//    ends, stopped or not. Then exactly one end call: finished only when every
//    frame was written, stopped when a stop was requested (the frame in
//    progress is written first), failed with the reason naming the cause
//    (a map that cannot be built, a file that cannot be written, an encoder
//    that cannot open, add or close). A failed or stopped-before-any-frame
//    video leaves nothing under the target name; a video stopped later is
//    closed and holds the frames written so far.
//
// The frames overlap in the ordered frame pipeline (engine/jobs/
// FramePipeline.h): several renders, and the frame files' encoding, run at
// once, but files are published, frames handed to the encoder and progress
// reported strictly in order, so every file, progress call and end call is
// the one the loop above would make.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/JobControl.h"
#include "imageio/ImageCodec.h"
#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoEncoderSettings.h"
#include "pano2dome/VideoFormat.h"

namespace skelvane {

class CSharpMapAhead;

namespace pano2dome_text {
inline constexpr const char* kFinished = "Finished! ";
inline constexpr const char* kStopped = "User break down the task! ";
inline constexpr const char* kFailed = "Some error has happened, the render is not finished! ";
inline constexpr const char* kNoInputImage = "No input image! ";
inline constexpr const char* kCheckWidth = "Please check output 'Width'! ";
inline constexpr const char* kWidthTooBig = "Output 'Width' is too big, please check! ";
inline constexpr const char* kEmptyPath = "Empty path!";
inline constexpr const char* kOddWidth = "Output 'width' must be a even number";
inline constexpr const char* kAngleRange = "Please check horizontal angle range";
inline constexpr const char* kViewAngles = "Please check the view angles! ";
inline constexpr const char* kSupersampling = "The supersampling must be 1 to 4! ";
inline constexpr const char* kCheckDuration = "Please check 'Duration'! ";
inline constexpr const char* kCheckFrameRate = "Please check 'FrameRate'! ";
inline constexpr const char* kTooManyFrames = "Too many frames, please check 'Duration' and 'FrameRate'! ";
inline constexpr const char* kNoFrames = "No frames, please check 'Duration' and 'FrameRate'! ";
inline constexpr const char* kFrameFormat = "Please check the frame format! ";
inline constexpr const char* kImageFormat = "Please check the image format! ";
}  // namespace pano2dome_text

enum PanoMode : int { kPanoImage = 0, kPanoFrames = 1, kPanoVideo = 2 };

// The most frames one sweep may have.
inline constexpr std::uint32_t kMaxPanoFrames = 1'000'000;

// The parameter block of one job, copied at Begin. The panorama is shared and
// never modified, so the page may load another one while the job runs.
struct CPano2DomeJob {
    int mode = kPanoImage;
    std::shared_ptr<const CImageBuffer> panorama;
    int outputWidth = 0;            // N of the N x N dome images
    unsigned fov = 180;             // degrees
    float verticalAngle = 60.0f;    // tilt, degrees
    float horizontalAngle = 0.0f;   // pan of image mode, degrees
    int fromAngle = -180;           // sweep of frame and video modes, degrees
    int toAngle = 180;
    unsigned duration = 5;          // seconds
    FrameRate frameRate = 25;       // frames per second
    std::string imagePath;          // image mode
    std::string frameDir;           // frame mode
    std::string frameFormat = "jpg";  // a format of the codec registry that can be written
    // Depth, dither and compression of the image or frames; the depth
    // defaults to the panorama's own where the format holds it.
    ImageWriteOptions writeOptions;
    std::string videoPath;          // video mode: a container of video.stream (pano2dome/VideoFormat.h)
    VideoEncoderSettings video;     // the video settings dialog's choices
    int encoderThreads = 0;         // 0: the encoder's own choice
    std::int64_t firstFrame = 0;    // frame mode: the part of the sweep written,
    std::int64_t lastFrame = -1;    // numbered from 0; -1: to the sweep's end
    bool skipExisting = false;      // frame mode: leave frames whose file exists alone
    bool sharp = false;             // frame and video modes: sample the full panorama as image mode does
    int supersample = 1;            // s x s sub-samples per dome pixel, 1 .. kMaxPanoSupersample
    // A sharp sweep's map begun while the panorama was read; taken if it was
    // built for this panorama's size and this dome, else the job builds one.
    std::shared_ptr<CSharpMapAhead> sharpMapAhead;
};

// The first reason to refuse the job before it starts, as the page shows it,
// or nothing. Checked in this order: panorama, output width (at least 2, and
// the image limit for the dome and for the 2N x N working panorama of a sweep
// that is not sharp), target
// path, even width for a video codec that needs one, angle range, tilt and
// pan that are numbers (a not-a-number angle renders an empty image), the
// supersampling; in image
// mode the image path's extension (a format that can be written); in frame
// and video modes the frame format (frame mode), duration, frame rate, the
// frame count (at least one, at most kMaxPanoFrames) and (frame mode) that
// the frames asked for lie in the sweep; in video mode last whether the
// stream can carry the domes (CheckVideoTarget).
std::optional<std::string> CheckPano2DomeJob(const CPano2DomeJob& job);

// The pan sweep of frame and video modes. The degrees per second are
// truncated to whole degrees before the step is taken from them, and the
// angle is accumulated in 32-bit floats, not recomputed from the frame
// number: with 360 degrees over 7 seconds at 25 frames per second the step
// is 51 / 25 = 2.04 and the last of the 175 frames lies near 174.96. At a
// fractional rate the step is the degrees per second over the exact rate
// (72 x 1001 / 30000 at 29.97) and the frame count is rounded to whole
// frames (150 in 5 seconds at 29.97).
class CPanoSweep {
public:
    // duration and frameRate must be positive and from <= to.
    CPanoSweep(int fromAngle, int toAngle, unsigned duration, FrameRate frameRate);

    std::uint64_t FrameCount() const { return m_frameCount; }
    std::uint32_t DegreesPerSecond() const { return m_degreesPerSecond; }
    float Step() const { return m_step; }
    float Angle() const { return m_angle; }
    void Advance() { m_angle = m_angle + m_step; }
    // From the first frame to frame `frame` of the sweep, one float step at a
    // time, so a part of the sweep starts at the very angle the whole sweep
    // reaches it with (from + frame x step is another float).
    void AdvanceTo(std::int64_t frame);

private:
    std::uint64_t m_frameCount;
    std::uint32_t m_degreesPerSecond;
    float m_step;
    float m_angle;
    int m_fromAngle;
};

// The dome size proposed for a panorama of height H: 2 H sqrt(fov / (180 pi))
// in 32-bit floats, truncated (a 1024-pixel-high panorama gives 1155 at 180
// degrees, 817 at 90, 1634 at 360). 0 for a height or fov of 0.
std::int32_t PanoOutputSize(std::int32_t panoramaHeight, unsigned fov);

// "0000.jpg", "0001.jpg", ..., "9999.jpg", "10000.jpg".
std::string PanoFrameFileName(std::int64_t index, std::string_view format);
// The frame folder without trailing separators, a separator and the name:
// "/out/" and "/out" both give "/out/0000.jpg".
std::string PanoFramePath(std::string_view frameDir, std::int64_t index, std::string_view format);

// The size the repeated halving leaves before the final resample: while
// height / N (integer division) is above 2, both sides are halved, rounding
// odd sides up.
struct PanoSize {
    std::int32_t width;
    std::int32_t height;
};
PanoSize HalvedPanoramaSize(std::int32_t width, std::int32_t height, std::int32_t outSize);

// The working panorama of frame and video modes: the panorama halved as
// above, then resampled to exactly 2N x N, at the panorama's channel type.
// False (and `working` empty) for an empty panorama, one of fewer than 32
// bits a pixel, or an N outside 1 .. kMaxImageSide / 2.
bool PrepareWorkingPanorama(const CImageBuffer& panorama, std::int32_t outSize, CImageBuffer& working);

// The frames of the sweep a job renders: all F in video mode, firstFrame to
// lastFrame (or the end) in frame mode.
struct PanoFrameSpan {
    std::int64_t first = 0;
    std::int64_t count = 0;
};
PanoFrameSpan PanoFramesOf(const CPano2DomeJob& job);

// How many progress steps the job makes: the frames it renders, once per
// encoder pass in video mode; 0 in image mode (and for jobs CheckPano2DomeJob
// refuses).
std::int64_t PanoProgressRange(const CPano2DomeJob& job);

// The page's progress bar beside the observer's Progress(k): the range is set
// before the first frame and reset when the sweep ends. Both calls come from
// the job's worker and must not block (the desktop posts them).
class CPanoProgressBar {
public:
    virtual ~CPanoProgressBar() = default;
    virtual void SetRange(std::int64_t steps) = 0;
    virtual void Reset() = 0;
};

// The job's body: runs on a job worker and returns its outcome.
JobOutcome Pano2DomeRenderThread(const CPano2DomeJob& job, CJobContext& context, CPanoProgressBar* bar = nullptr);

// Starts a copy of `job` on `control`; false while another job runs there.
// A job that CheckPano2DomeJob refuses starts and fails at once with that
// reason; callers check first to show the message without starting a job.
bool BeginPano2DomeJob(CJobControl& control, const CPano2DomeJob& job, CJobObserver& observer,
                       CMessageReporter& reporter = DefaultReporter(), CPanoProgressBar* bar = nullptr);

}  // namespace skelvane
