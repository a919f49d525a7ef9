// The frames of one render and the file each of them ends up in: what the
// farm needs to know of a cube2dome or pano2dome run to split it into shards
// and to tell from the disk which frames are done.
#pragma once

#include <filesystem>
#include <string>

namespace skelvane::farm {

struct CFrameSequence {
    std::string command;    // "cube2dome" (frames numbered from 1) or "pano2dome" (from 0)
    std::string folder;     // where the frames are written
    std::string prefix;     // cube2dome only
    int digits = 3;         // cube2dome only: serial digits
    std::string format;     // extension of the frame files
    long long first = 0;    // first and last frame, in the command's own numbering
    long long last = -1;
    long long domeSize = 0; // the frames' side in pixels, known when planned; not kept in the manifest

    long long Count() const { return last >= first ? last - first + 1 : 0; }
    // The file a run writes frame `frame` to when its name is free: the plain
    // name, never a numbered variant.
    std::filesystem::path FramePath(long long frame) const;
    bool IsDone(long long frame) const;
};

}  // namespace skelvane::farm
