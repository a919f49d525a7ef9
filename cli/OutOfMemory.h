// What the command line prints when memory runs out outside a job (a job
// reports it itself): "Out of memory." and a line saying what asked for it.
#pragma once

#include <new>
#include <string>

namespace skelvane::cli {

// "Out of memory." and "<doing> asked for a block of N bytes (M MiB)." where
// the failed allocation's size is known, "... asked for more memory than
// there is." where it is not. `doing` reads as the start of a sentence
// ("Loading the panorama /x/pano.jpg").
std::string OutOfMemoryReport(const std::bad_alloc& failure, const std::string& doing);

}  // namespace skelvane::cli
