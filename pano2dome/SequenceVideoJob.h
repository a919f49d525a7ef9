// A numbered sequence of dome images (pano2dome/DomeSequence.h), for example
// one written by a render farm, encoded into one video, on a job worker
// (engine/jobs/JobControl.h).
//
// What the job does, as a one-frame-at-a-time loop would:
// 1. Read the first image for the video's size and refuse a stream that
//    cannot carry it (CheckVideoTarget) before anything is written.
// 2. For each encoder pass, for each image in order: read it (an image that
//    cannot be read or has another size fails the job, naming the file),
//    hand it to the encoder and report Progress(k), k counting over all
//    passes from 0.
// 3. End as pano2dome/VideoJobOutput.h says: finished, stopped (the video
//    holds the frames written so far) or failed (no file under the target).
// Several images are read at once; they reach the encoder strictly in order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/jobs/JobControl.h"
#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoEncoderSettings.h"

namespace skelvane {

struct CSequenceVideoJob {
    std::vector<std::filesystem::path> frames;  // in frame order
    std::string videoPath;
    FrameRate frameRate = 25;
    VideoEncoderSettings video;
    int encoderThreads = 0;  // 0: the encoder's own choice
};

// The first reason to refuse the job before it starts, or nothing: no frames,
// a first image that cannot be read, a stream that cannot carry its size at
// the rate. Reads the first image.
std::optional<std::string> CheckSequenceVideoJob(const CSequenceVideoJob& job);

// Frames x encoder passes.
std::int64_t SequenceVideoProgressRange(const CSequenceVideoJob& job);

JobOutcome SequenceVideoRenderThread(const CSequenceVideoJob& job, CJobContext& context);

// Starts a copy of `job` on `control`; false while another job runs there.
bool BeginSequenceVideoJob(CJobControl& control, const CSequenceVideoJob& job, CJobObserver& observer,
                           CMessageReporter& reporter = DefaultReporter());

}  // namespace skelvane
