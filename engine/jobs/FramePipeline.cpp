#include "engine/jobs/FramePipeline.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>

#include <tbb/parallel_pipeline.h>

namespace skelvane {

std::size_t FramesInFlight(int threads, int spare, std::int64_t frameBytes)
{
    constexpr std::int64_t kMostFrames = 8;
    std::int64_t frames = static_cast<std::int64_t>(threads) + spare;
    if (frameBytes > 0) {
        frames = std::min(frames, std::max<std::int64_t>(1, kFramesInFlightBytes / frameBytes));
    }
    return static_cast<std::size_t>(std::clamp<std::int64_t>(frames, 1, kMostFrames));
}

namespace frame_pipeline {
namespace {

// One frame on its way through the stages.
//
// The thread checker cannot see into the system's libtbb, so it cannot see
// the order TBB keeps: a stage call starting on a worker after the run was
// set up, a serial stage moving from thread to thread, a token handed from
// stage to stage, the workers' last calls before the run returns. The run
// states that order where the checker sees it: a flag set before the run and
// read by every stage call, a flag in each token that a stage sets when it
// hands the token on and the next reads, a lock per serial stage, and both
// stage locks taken once more at the end; tokens travel as plain pointers,
// which the checker does not follow into TBB's buffers. Uncontended, all of
// it costs next to nothing per frame. As TBB cannot destroy a plain pointer
// that it holds when a stage throws, no stage throws.
struct Token {
    explicit Token(std::int64_t framePosition) : position(framePosition) {}
    void HandOn() { handedOn.store(true, std::memory_order_release); }
    void TakeOver() { handedOn.load(std::memory_order_acquire); }

    std::atomic<bool> handedOn{false};
    std::int64_t position;
    std::shared_ptr<void> frame;  // the job's state of the frame
    bool produced = false;        // produced, or failed trying (or starting)
    FrameStepResult result;       // of producing it
};
using TokenPtr = std::unique_ptr<Token>;  // owned from the first stage's end to the ordered end

// A step's result; nothing that a step throws leaves its stage.
template <class Step>
FrameStepResult ResultOf(Step&& step)
{
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return kOutOfMemoryText;
    } catch (const std::exception& error) {
        const std::string what = error.what();
        return what.empty() ? "unexpected error" : what;
    } catch (...) {
        return "unexpected error";
    }
}

}  // namespace

std::string Run(CJobContext& context, const FramePipelineOptions& options, const ErasedSteps& steps)
{
    // Set by the ordered end when the run ends early: later frames are
    // abandoned wherever they are.
    std::atomic<bool> halted{false};
    // Every frame before this position is going to be delivered: the ordered
    // end found no stop request after reporting the frame before it.
    std::atomic<std::int64_t> committed{0};
    std::string failure;    // written by the ordered end only
    std::int64_t next = 0;  // read and written by the first stage only
    bool tokenless = false;  // the first stage could not allocate a token
    std::mutex firstStage;
    std::mutex orderedEnd;
    std::atomic<bool> begun{false};

    auto abandoned = [&](std::int64_t position) {
        return halted.load() || (position > committed.load() && context.StopRequested());
    };
    auto produce = [&](Token& token) {
        token.produced = true;
        token.result = ResultOf([&] { return steps.produce(token.frame.get()); });
        if (token.result.IsFailure()) {
            token.frame.reset();  // a failing job needs its memory back, not the frame
        }
    };

    // In frame order: passes the gate, then starts the next frame unless
    // the run is over.
    auto first = [&](tbb::flow_control& control) -> Token* {
        begun.load(std::memory_order_acquire);
        std::lock_guard stage(firstStage);
        if (next > 0) {
            context.Checkpoint();
        }
        if (next >= options.frames || abandoned(next)) {
            control.stop();
            return nullptr;
        }
        // A frame that cannot even be given a token ends the run there; the
        // frames before it are still delivered.
        TokenPtr token(new (std::nothrow) Token(next));
        if (!token) {
            tokenless = true;
            control.stop();
            return nullptr;
        }
        ++next;
        token->result = ResultOf([&] {
            token->frame = steps.start(token->position);
            return FrameStepResult();
        });
        token->produced = token->result.IsFailure();
        token->HandOn();
        return token.release();
    };
    // Several frames at once: makes each frame that is still wanted.
    auto middle = [&](Token* token) {
        begun.load(std::memory_order_acquire);
        token->TakeOver();
        if (!token->produced && !abandoned(token->position)) {
            produce(*token);
        }
        token->HandOn();
        return token;
    };
    // In frame order: delivers, reports, and decides whether the next frame
    // is delivered too.
    auto last = [&](Token* handed) {
        begun.load(std::memory_order_acquire);
        std::lock_guard stage(orderedEnd);
        const TokenPtr token(handed);
        token->TakeOver();
        if (halted.load()) {
            return;
        }
        // A frame skipped ahead of a stop can turn out to be the one in
        // progress: it is made here, in order.
        if (!token->produced) {
            produce(*token);
        }
        FrameStepResult result = std::move(token->result);
        if (!result.IsFailure()) {
            context.Checkpoint();
            if (!result.IsLeftAlone()) {
                result = ResultOf([&] { return steps.deliver(token->frame.get()); });
            }
        }
        // Released before the progress calls, which may wait for the ui.
        token->frame.reset();
        if (result.IsFailure()) {
            failure = result.Failure();
            halted.store(true);
            return;
        }
        if (result.IsLeftAlone()) {
            context.Skipped(options.progressBase + token->position);
        }
        context.Progress(options.progressBase + token->position);
        if (context.StopRequested()) {
            halted.store(true);
            return;
        }
        committed.store(token->position + 1);
    };

    begun.store(true, std::memory_order_release);
    tbb::parallel_pipeline(std::max<std::size_t>(options.inFlight, 1),
                           tbb::make_filter<void, Token*>(tbb::filter_mode::serial_in_order, first) &
                               tbb::make_filter<Token*, Token*>(tbb::filter_mode::parallel, middle) &
                               tbb::make_filter<Token*, void>(tbb::filter_mode::serial_in_order, last));
    std::scoped_lock ended(firstStage, orderedEnd);
    return failure.empty() && tokenless ? kOutOfMemoryText : failure;
}

}  // namespace frame_pipeline
}  // namespace skelvane
