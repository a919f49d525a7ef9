// Running a render job from the command line: a progress bar on a terminal
// (plain lines otherwise), Ctrl-C as a confirmed Stop, and the exit status.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/jobs/JobControl.h"

namespace skelvane::cli {

inline constexpr int kExitFinished = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitStopped = 130;  // as a shell reports an interrupt

// SIGINT and SIGTERM are taken by a watcher thread while a job runs, so every
// thread must have them blocked from the start: call first thing in main.
void BlockInterruptSignals();
// For commands that run no job: Ctrl-C ends the program at once.
void UnblockInterruptSignals();

struct ConsoleJobTexts {
    const char* finished;
    const char* stopped;
    const char* failed;
};

// Starts the job with `begin` (given the control, an observer and a reporter
// that print here), shows its progress over `totalFrames` frames, and waits
// for its end. The first Ctrl-C (or SIGTERM) stops the job after the frame in
// progress is written; a second one ends the program at once. Returns the
// exit status: 0 finished, 1 failed, 130 stopped.
using BeginJob = std::function<bool(CJobControl&, CJobObserver&, CMessageReporter&)>;
int RunJobOnConsole(CJobControl& control, const BeginJob& begin, std::int64_t totalFrames,
                    const ConsoleJobTexts& texts);

}  // namespace skelvane::cli
