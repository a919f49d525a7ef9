#include "imageio/MappedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>

#include "engine/image/PixelBlock.h"

namespace skelvane {
namespace fs = std::filesystem;

namespace {

// Temporary names must not collide between threads or between processes
// writing into the same folder.
std::string UniqueSuffix()
{
    static const std::uint64_t processSeed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    static std::atomic<std::uint64_t> counter{0};
    const std::uint64_t n = counter.fetch_add(1, std::memory_order_relaxed);
    char text[40];
    std::snprintf(text, sizeof text, "%016llx-%llu", static_cast<unsigned long long>(processSeed),
                  static_cast<unsigned long long>(n));
    return text;
}

// Empty when the whole file was written, else the system's reason.
std::string WriteWholeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0) {
        return std::strerror(errno);
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = write(file, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            const int error = put < 0 ? errno : EIO;
            close(file);
            return std::strerror(error);
        }
        done += static_cast<std::size_t>(put);
    }
    if (close(file) != 0) {
        return std::strerror(errno);
    }
    return {};
}

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

bool MappedInput::Open(const fs::path& path)
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
    const auto size = static_cast<std::size_t>(status.st_size);
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
    const fs::path folder = m_target.has_parent_path() ? m_target.parent_path() : fs::path(".");
    // Hidden and unmistakably partial, beside the target so the rename is
    // atomic on the same file system.
    std::string name = ".";
    name += m_target.filename().string();
    name += ".part-";
    name += UniqueSuffix();
    const fs::path temporary = folder / name;
    if (std::string reason = WriteWholeFile(temporary, m_bytes); !reason.empty()) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        m_error = std::move(reason);
        return false;
    }
    std::error_code error;
    if (m_mode == Mode::Replace) {
        fs::rename(temporary, m_target, error);
    } else {
        // A hard link is created only where no entry of that name exists, so
        // two writers can never end up sharing one name.
        fs::create_hard_link(temporary, m_target, error);
        std::error_code ignored;
        fs::remove(temporary, ignored);
    }
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        m_error = error.message();
        return false;
    }
    return true;
}

}  // namespace skelvane
