// The frames of one cube face: the image files of its folder, in frame order.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skelvane {

// An ordered list of full file paths; frame n (1-based) is entry n - 1. Built
// only by ListFaceFrames and never edited, so the settings, the page's preview
// and a running job can share one list without locks: a change of folder or
// format builds a new list and leaves the old one to those still holding it.
class FaceFrameList {
public:
    explicit FaceFrameList(std::vector<std::filesystem::path> frames) : m_frames(std::move(frames)) {}

    std::size_t Count() const { return m_frames.size(); }
    std::filesystem::path At(std::size_t index) const { return m_frames.at(index); }
    const std::vector<std::filesystem::path>& Frames() const { return m_frames; }

private:
    std::vector<std::filesystem::path> m_frames;
};

using FaceFrameListPtr = std::shared_ptr<const FaceFrameList>;

// The files of `folder` whose extension is `extension` (without the dot, any
// letter case), in natural order of name (frame2 before frame10). Folders and
// hidden files (names starting with a dot) are skipped. A folder that does not
// exist or cannot be read gives an empty list, never a null one.
FaceFrameListPtr ListFaceFrames(const std::filesystem::path& folder, std::string_view extension);

// Natural order of names: runs of digits compare by value, other characters
// without regard to letter case; names equal in that sense fall back to plain
// character order, so the order is total.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace skelvane
