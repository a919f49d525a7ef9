#include "imageio/MappedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "engine/image/PixelBlock.h"
#include "imageio/StagingEntry.h"

namespace skelvane {
namespace fs = std::filesystem;

namespace {

// Successive saves of a job write files of about the same size: their byte
// buffers are kept for the next save, which then pays neither the copies of a
// growing buffer nor the first-touch page faults of fresh memory. Bounded, so
// that an idle program holds little.
class EncodedBytesPool {
public:
    std::vector<std::uint8_t> Take()
    {
        std::lock_guard lock(m_mutex);
        if (m_buffers.empty()) {
            return {};
        }
        std::vector<std::uint8_t> bytes = std::move(m_buffers.back());
        m_buffers.pop_back();
        m_held -= bytes.capacity();
        return bytes;
    }

    void Give(std::vector<std::uint8_t>&& bytes)
    {
        bytes.clear();
        std::lock_guard lock(m_mutex);
        if (m_buffers.size() < kSlots && m_held + bytes.capacity() <= kLimit) {
            m_held += bytes.capacity();
            m_buffers.push_back(std::move(bytes));
        }
    }

private:
    static constexpr std::size_t kSlots = 4;
    static constexpr std::size_t kLimit = std::size_t{256} << 20;
    std::mutex m_mutex;
    std::vector<std::vector<std::uint8_t>> m_buffers;
    std::size_t m_held = 0;
};

EncodedBytesPool& Pool()
{
    // Never destroyed: saves may run from static objects at exit.
    static auto* pool = new EncodedBytesPool;
    return *pool;
}

}  // namespace

int OpenRegularFile(const fs::path& path, std::string& error)
{
    // Looked at before it is opened: opening a device may act on it.
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        error = errno == ENOENT ? "there is no such file" : std::strerror(errno);
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file";
        return -1;
    }
    // Without O_NONBLOCK a FIFO put in its place meanwhile would block the
    // open until some writer came; regular files ignore the flag.
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(file);
        error = "it is not a regular file";
        return -1;
    }
    return file;
}

bool MappedInput::Open(const fs::path& path, std::size_t most)
{
    m_data.reset();
    m_size = 0;
    m_error.clear();
    const int file = OpenRegularFile(path, m_error);
    if (file < 0) {
        return false;
    }
    struct FileCloser {
        int file;
        ~FileCloser() { close(file); }
    } closer{file};
    struct stat status {};
    if (fstat(file, &status) != 0) {
        m_error = std::strerror(errno);
        return false;
    }
    if (status.st_size <= 0) {
        m_error = "the file is empty";
        return false;
    }
    const auto size = std::min(static_cast<std::size_t>(status.st_size), most);
    std::unique_ptr<std::uint8_t[]> data;
    try {
        data = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
        throw CAllocationFailure(status.st_size);
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = read(file, data.get() + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            m_error = std::strerror(errno);
            return false;
        }
        if (got == 0) {
            m_error = "the file was cut short while it was read";
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    m_data = std::move(data);
    m_size = size;
    return true;
}

MappedOutput::MappedOutput(fs::path target, Mode mode)
    : m_target(std::move(target)), m_mode(mode), m_bytes(Pool().Take())
{
}

MappedOutput::~MappedOutput() { Pool().Give(std::move(m_bytes)); }

bool MappedOutput::Commit()
{
    // Beside the target, so that the rename is atomic on the same file system.
    CStagingEntry staged;
    if (!CommitStaged(staged)) {
        return false;
    }
    std::error_code error;
    if (m_mode == Mode::Replace) {
        fs::rename(staged.Path(), m_target, error);
    } else {
        // A hard link is created only where no entry of that name exists, so
        // two writers can never end up sharing one name.
        fs::create_hard_link(staged.Path(), m_target, error);
    }
    if (error) {
        m_error = error.message();
        return false;  // the staged file goes with `staged`
    }
    if (m_mode == Mode::Replace) {
        staged.Release();
    }
    return true;
}

bool MappedOutput::CommitStaged(CStagingEntry& staged)
{
    const fs::path folder = m_target.has_parent_path() ? m_target.parent_path() : fs::path(".");
    if (!staged.CreateFile(folder, m_target.filename().string(), m_error)) {
        return false;
    }
    if (std::string reason = staged.Write(m_bytes); !reason.empty()) {
        staged.Remove();
        m_error = std::move(reason);
        return false;
    }
    return true;
}

}  // namespace skelvane
