#include "engine/jobs/FramePipeline.h"

#include <algorithm>
#include <atomic>
#include <exception>
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
struct Token {
    explicit Token(std::int64_t framePosition) : position(framePosition) {}
    std::int64_t position;
    std::shared_ptr<void> frame;  // the job's state of the frame
    bool produced = false;        // produced, or failed trying (or starting)
    std::string failure;
};
using TokenPtr = std::unique_ptr<Token>;

// A step's failure as a reason: nothing that a step throws may leave the
// pipeline, which would end it without destroying the frames in flight.
template <class Step>
std::string ReasonOf(Step&& step)
{
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return kOutOfMemoryText;
    } catch (const std::exception& error) {
        const std::string what = error.what();
        return what.empty() ? "unexpected error" : what;
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

    auto abandoned = [&](std::int64_t position) {
        return halted.load() || (position > committed.load() && context.StopRequested());
    };
    auto produce = [&](Token& token) {
        token.produced = true;
        token.failure = ReasonOf([&] { return steps.produce(token.frame.get()); });
        if (!token.failure.empty()) {
            token.frame.reset();  // a failing job needs its memory back, not the frame
        }
    };

    tbb::parallel_pipeline(
        std::max<std::size_t>(options.inFlight, 1),
        tbb::make_filter<void, TokenPtr>(tbb::filter_mode::serial_in_order,
                                         [&](tbb::flow_control& control) -> TokenPtr {
                                             if (next > 0) {
                                                 context.Checkpoint();
                                             }
                                             if (next >= options.frames || abandoned(next)) {
                                                 control.stop();
                                                 return nullptr;
                                             }
                                             auto token = std::make_unique<Token>(next++);
                                             token->failure = ReasonOf([&] {
                                                 token->frame = steps.start(token->position);
                                                 return std::string();
                                             });
                                             token->produced = !token->failure.empty();
                                             return token;
                                         }) &
            tbb::make_filter<TokenPtr, TokenPtr>(tbb::filter_mode::parallel,
                                                 [&](TokenPtr token) {
                                                     if (!token->produced && !abandoned(token->position)) {
                                                         produce(*token);
                                                     }
                                                     return token;
                                                 }) &
            tbb::make_filter<TokenPtr, void>(tbb::filter_mode::serial_in_order, [&](TokenPtr token) {
                if (halted.load()) {
                    return;
                }
                // A frame skipped ahead of a stop can turn out to be the one
                // in progress: it is made here, in order.
                if (!token->produced) {
                    produce(*token);
                }
                std::string reason = std::move(token->failure);
                if (reason.empty()) {
                    context.Checkpoint();
                    reason = ReasonOf([&] { return steps.deliver(token->frame.get()); });
                }
                // Released before the progress call, which may wait for the ui.
                token->frame.reset();
                if (!reason.empty()) {
                    failure = std::move(reason);
                    halted.store(true);
                    return;
                }
                context.Progress(options.progressBase + token->position);
                if (context.StopRequested()) {
                    halted.store(true);
                    return;
                }
                committed.store(token->position + 1);
            }));
    return failure;
}

}  // namespace frame_pipeline
}  // namespace skelvane
