// The standard descriptors of a program started with one of them closed
// (`prog >&-`, a daemon's start-up).
#pragma once

namespace skelvane {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Files
// opened later would otherwise take those numbers, and progress text printed
// to a closed stdout would land inside an image or a video. Call first thing
// in main. False when a descriptor cannot be filled: the program must then
// write no file.
bool ReopenClosedStandardStreams();

}  // namespace skelvane
