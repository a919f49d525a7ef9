#include "imageio/WriteBehind.h"

#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <mutex>

namespace skelvane {
namespace {

struct Window {
    std::mutex mutex;
    std::deque<int> files;  // descriptors of our own, oldest first
};

Window& TheWindow()
{
    // Never destroyed: files may be written by static objects at exit.
    static auto* window = new Window;
    return *window;
}

void LetGo(int descriptor)
{
    sync_file_range(descriptor, 0, 0,
                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED);
    close(descriptor);
}

}  // namespace

void WriteBehind(const std::filesystem::path& path)
{
    // A descriptor of our own, not a copy of the writer's: a copy would share
    // the writer's lock on the file and hold it after the writer lets go.
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) {
        return;
    }
    if (sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE) != 0) {
        close(descriptor);  // no writeback to start here: the cache keeps it
        return;
    }
    int oldest = -1;
    {
        Window& window = TheWindow();
        const std::lock_guard<std::mutex> lock(window.mutex);
        window.files.push_back(descriptor);
        if (window.files.size() > kWriteBehindFiles) {
            oldest = window.files.front();
            window.files.pop_front();
        }
    }
    if (oldest >= 0) {
        LetGo(oldest);
    }
}

}  // namespace skelvane
