// The ordered frame pipeline of the render jobs: frames are made several at a
// time and handed on strictly in frame order, so that every file, name,
// progress call and end call is the one a one-frame-at-a-time loop makes.
//
// A job supplies three steps for the frame positions 0 .. frames - 1:
// 1. start(position), in frame order, one call at a time: the frame's own
//    state, never null (a sweep accumulates its angle here, in order).
// 2. produce(frame), for several frames at once on the job's threads: decode,
//    render, encode the file under a staging name.
// 3. deliver(frame), in frame order, one call at a time: give the file its
//    name, or add the frame to a video.
// Each of the two says whether its frame is done, failed (and why), or left
// alone: its file exists already (a retried shard), so it is not written. A
// frame left alone by produce is not delivered. After each frame the frame is
// released, a frame left alone is reported with Skipped(progressBase +
// position), and then every frame with Progress(progressBase + position); the
// job's worker waits for that call.
//
// The rules the loop's observable order comes from:
// - Pause: the gate is passed before a frame is started (all but the first)
//   and before each frame is handed on; produce steps pass it between their
//   own long steps, and row-band loops pass it between bands.
// - Stop: the frame in progress (the one after the last reported) is
//   finished: produced (here, in order, if it was skipped ahead of the stop),
//   delivered and reported. Frames started ahead of it are abandoned. The
//   first frame counts as in progress: a job reads the stop flag before it
//   runs the pipeline, and a video pass that has begun keeps at least one
//   frame.
// - Failure: the first frame, in frame order, whose start, produce or deliver
//   fails ends the run with that reason; every frame before it is delivered,
//   none after it. An allocation failure reads "Out of memory.".
// - Abandoned frames are destroyed undelivered, with everything they own: a
//   frame that owns its staged file leaves no temporary file behind.
// - Memory: at most inFlight frames exist at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/jobs/JobControl.h"

namespace skelvane {

struct FramePipelineOptions {
    std::int64_t frames = 0;        // positions 0 .. frames - 1
    std::size_t inFlight = 1;       // frames started and not yet delivered, at most
    std::int64_t progressBase = 0;  // frame p reports progressBase + p (passes of a video)
};

// What a produce or deliver step says of its frame. A reason converts to a
// failure (an empty one to done), so a step can return its reason as it is.
class FrameStepResult {
public:
    FrameStepResult() = default;
    FrameStepResult(std::string failure) : m_failure(std::move(failure)) {}
    FrameStepResult(const char* failure) : m_failure(failure) {}
    static FrameStepResult LeftAlone()
    {
        FrameStepResult result;
        result.m_leftAlone = true;
        return result;
    }

    bool IsFailure() const { return !m_failure.empty(); }
    bool IsLeftAlone() const { return m_leftAlone; }
    const std::string& Failure() const { return m_failure; }

private:
    std::string m_failure;
    bool m_leftAlone = false;
};

template <class Frame>
struct FrameSteps {
    std::function<std::unique_ptr<Frame>(std::int64_t position)> start;
    std::function<FrameStepResult(Frame& frame)> produce;
    std::function<FrameStepResult(Frame& frame)> deliver;
};

// The frame memory a job keeps in flight at most: a 16384-pixel dome alone
// takes a gigabyte.
inline constexpr std::int64_t kFramesInFlightBytes = std::int64_t{512} << 20;

// Frames in flight for a job on `threads` threads: `spare` more than the
// threads, so that every thread has a frame to make while finished ones wait
// at the ordered end; no more than fit in kFramesInFlightBytes when each
// frame holds `frameBytes` (0: not bounded by memory); 1 to 8.
std::size_t FramesInFlight(int threads, int spare, std::int64_t frameBytes = 0);

namespace frame_pipeline {
struct ErasedSteps {
    std::function<std::shared_ptr<void>(std::int64_t)> start;
    std::function<FrameStepResult(void*)> produce;
    std::function<FrameStepResult(void*)> deliver;
};
std::string Run(CJobContext& context, const FramePipelineOptions& options, const ErasedSteps& steps);
}  // namespace frame_pipeline

// Runs the frames through the steps as above and returns the first failure in
// frame order, or nothing when every frame was delivered or a stop ended the
// run (the job's stop flag tells which).
template <class Frame>
std::string RunFramePipeline(CJobContext& context, const FramePipelineOptions& options,
                             const FrameSteps<Frame>& steps)
{
    return frame_pipeline::Run(
        context, options,
        {[&](std::int64_t position) -> std::shared_ptr<void> { return steps.start(position); },
         [&](void* frame) { return steps.produce(*static_cast<Frame*>(frame)); },
         [&](void* frame) { return steps.deliver(*static_cast<Frame*>(frame)); }});
}

}  // namespace skelvane
