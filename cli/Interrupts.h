// Interrupts of a command-line run. SIGINT (Ctrl-C), SIGTERM (kill, a farm's
// scheduler) and SIGHUP (a closed terminal or ssh session) all ask the
// program to stop, at any moment of its run:
// - before a job runs (a panorama that takes seconds to load, a long folder
//   listing) nothing is being rendered, and the program ends at once;
// - while a job runs the first one stops it after the frame in progress (the
//   video is closed), and a second one aborts: the program removes the hidden
//   files it was writing and ends at once;
// - after the job has ended they are ignored: the outcome is being reported.
// The program ends with status 130 in every case, as a shell reports an
// interrupt.
#pragma once

#include <functional>
#include <string>

#include "engine/jobs/JobControl.h"

namespace skelvane::cli {

inline constexpr int kExitStopped = 130;

// Blocks the three signals in this thread and in every thread started after
// it, and starts the one thread that takes them. Call first thing in main,
// before any other thread exists.
void StartInterruptWatcher();

// While this lives, interrupts stop the job of `control`; `print` shows the
// notices (it keeps them apart from the progress bar). Once it is destroyed
// interrupts are ignored.
class JobInterrupts {
public:
    JobInterrupts(CJobControl& control, std::function<void(const std::string&)> print);
    ~JobInterrupts();
    JobInterrupts(const JobInterrupts&) = delete;
    JobInterrupts& operator=(const JobInterrupts&) = delete;
};

}  // namespace skelvane::cli
