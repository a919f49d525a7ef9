// Running a render job from the command line: a progress bar on a terminal
// (plain lines otherwise), Ctrl-C as a confirmed Stop, and the exit status.
#pragma once

#include <cstdint>
#include <functional>

#include "cli/Interrupts.h"
#include "engine/jobs/JobControl.h"

namespace skelvane::cli {

inline constexpr int kExitFinished = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadArguments = 2;

// How progress is shown: a bar on a terminal (plain lines otherwise), or, for
// farm logs and wrappers, one JSON object a line on stdout:
//   {"frame":12,"done":3,"total":10,"seconds":1.250,"rate":2.400}
// with "skipped":true added for a frame left alone because its file existed.
struct ConsoleProgress {
    bool json = false;
    std::int64_t firstFrame = 0;  // the number of the job's first frame, for "frame"
};

struct ConsoleJobTexts {
    const char* finished;
    const char* stopped;
    const char* failed;
};

// Starts the job with `begin` (given the control, an observer and a reporter
// that print here), shows its progress over `totalFrames` frames, and waits
// for its end. Interrupts stop it as cli/Interrupts.h says. Returns the exit
// status: 0 finished, 1 failed, 130 stopped.
using BeginJob = std::function<bool(CJobControl&, CJobObserver&, CMessageReporter&)>;
int RunJobOnConsole(CJobControl& control, const BeginJob& begin, std::int64_t totalFrames,
                    const ConsoleJobTexts& texts, const ConsoleProgress& progress = {});

}  // namespace skelvane::cli
