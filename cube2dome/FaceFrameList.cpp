#include "cube2dome/FaceFrameList.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace skelvane {
namespace fs = std::filesystem;

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// -1, 0 or 1 as `a` sorts before, with or after `b` in natural order.
int NaturalCompare(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Compare the values of both digit runs: skip leading zeros, then
            // the longer run is larger, then the first differing digit decides.
            std::size_t endA = i;
            while (endA < a.size() && IsDigit(a[endA])) {
                ++endA;
            }
            std::size_t endB = j;
            while (endB < b.size() && IsDigit(b[endB])) {
                ++endB;
            }
            std::size_t startA = i;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            std::size_t startB = j;
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            const std::size_t lengthA = endA - startA;
            const std::size_t lengthB = endB - startB;
            if (lengthA != lengthB) {
                return lengthA < lengthB ? -1 : 1;
            }
            const int digits = a.substr(startA, lengthA).compare(b.substr(startB, lengthB));
            if (digits != 0) {
                return digits < 0 ? -1 : 1;
            }
            i = endA;
            j = endB;
            continue;
        }
        const char ca = Lower(a[i]);
        const char cb = Lower(b[j]);
        if (ca != cb) {
            return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

bool HasExtension(const std::string& name, std::string_view extension)
{
    if (name.size() < extension.size() + 1 || name[name.size() - extension.size() - 1] != '.') {
        return false;
    }
    const std::string_view tail = std::string_view(name).substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(), extension.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b)
{
    const int natural = NaturalCompare(a, b);
    return natural != 0 ? natural < 0 : a < b;
}

FaceFrameListPtr ListFaceFrames(const fs::path& folder, std::string_view extension)
{
    struct Entry {
        std::string name;
        fs::path path;
    };
    std::vector<Entry> entries;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (!error && !extension.empty()) {
        for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
            std::string name = it->path().filename().string();
            if (name.empty() || name.front() == '.' || !HasExtension(name, extension)) {
                continue;
            }
            std::error_code statusError;
            if (it->is_directory(statusError)) {
                continue;
            }
            // Not folder + '/' + name from the iterator's path: a folder given
            // with a trailing separator must not gain a doubled one.
            entries.push_back({std::move(name), folder / it->path().filename()});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return NaturalLess(a.name, b.name); });
    std::vector<fs::path> frames;
    frames.reserve(entries.size());
    for (Entry& entry : entries) {
        frames.push_back(std::move(entry.path));
    }
    return std::make_shared<const FaceFrameList>(std::move(frames));
}

}  // namespace skelvane
