#include "imageio/StagingEntry.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>

#include "imageio/WriteBehind.h"

namespace skelvane {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kPartMark = ".part-";
// Enough of the stem to recognise the file by, and room for the rest within
// the 255 bytes of a name.
constexpr std::size_t kMaxStemBytes = 120;
constexpr std::size_t kMaxHostBytes = 40;
// Names taken by others (or by a writer of the same number on another
// machine) are passed over; this many in a row means something else is wrong.
constexpr int kNameAttempts = 100;

// The machine's name as it appears in entry names: no byte that could be
// mistaken for the separators around it.
std::string HostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host(name);
    for (char& c : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (!plain) {
            c = '_';
        }
    }
    host.resize(std::min(host.size(), kMaxHostBytes));
    return host.empty() ? std::string("host") : host;
}

const std::string& ThisHost()
{
    static const std::string host = HostName();
    return host;
}

std::string CutStem(std::string_view stem)
{
    std::size_t cut = std::min(stem.size(), kMaxStemBytes);
    while (cut > 0 && cut < stem.size() && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
        --cut;  // never split a UTF-8 sequence
    }
    return std::string(stem.substr(0, cut));
}

std::string EntryName(std::string_view stem)
{
    static const unsigned long long processSeed = [] {
        std::random_device device;
        return (static_cast<unsigned long long>(device()) << 32) ^ device();
    }();
    static std::atomic<unsigned long long> counter{0};
    char writer[96];
    std::snprintf(writer, sizeof writer, "%d@%s+%llx-%llu", static_cast<int>(getpid()), ThisHost().c_str(),
                  processSeed, counter.fetch_add(1, std::memory_order_relaxed));
    std::string name = ".";
    name += CutStem(stem);
    name += kPartMark;
    name += writer;
    return name;
}

struct Writer {
    pid_t pid = 0;
    std::string_view host;
};

// The writer a staging entry's name gives, or nothing for any other name.
std::optional<Writer> WriterOf(std::string_view name)
{
    if (!name.starts_with('.')) {
        return std::nullopt;
    }
    const std::size_t mark = name.find(kPartMark);
    if (mark == std::string_view::npos) {
        return std::nullopt;
    }
    name.remove_prefix(mark + kPartMark.size());
    const std::size_t at = name.find('@');
    const std::size_t plus = name.find('+');
    if (at == std::string_view::npos || plus == std::string_view::npos || plus < at) {
        return std::nullopt;
    }
    Writer writer;
    const auto [end, error] = std::from_chars(name.data(), name.data() + at, writer.pid);
    if (error != std::errc() || end != name.data() + at || writer.pid <= 0) {
        return std::nullopt;
    }
    writer.host = name.substr(at + 1, plus - at - 1);
    return writer;
}

// The entries this process holds, for an abort that cannot unwind.
struct OwnEntries {
    std::mutex mutex;
    std::map<std::uint64_t, std::pair<fs::path, bool>> entries;  // id: path, is a folder
    std::uint64_t next = 1;
    bool ending = false;  // RemoveOwnStagingEntries was called
};

OwnEntries& Own()
{
    // Never destroyed: entries may be released by static objects at exit.
    static auto* own = new OwnEntries;
    return *own;
}

// Takes the lock of a fresh entry; false when a remover that misjudged it got
// there first (the entry is gone or going). Where the file system has no
// locks the entry stays unlocked and the process's existence speaks for it.
bool LockFresh(int descriptor)
{
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return errno != EWOULDBLOCK;
    }
    struct stat status {};
    return fstat(descriptor, &status) == 0 && status.st_nlink > 0;
}

void RemoveEntry(const fs::path& path, bool folder)
{
    std::error_code ignored;
    if (folder) {
        fs::remove_all(path, ignored);
    } else {
        fs::remove(path, ignored);
    }
}

}  // namespace

CStagingEntry::~CStagingEntry()
{
    Remove();
}

CStagingEntry::CStagingEntry(CStagingEntry&& other) noexcept
    : m_path(std::move(other.m_path)), m_descriptor(other.m_descriptor), m_folder(other.m_folder), m_id(other.m_id)
{
    other.m_path.clear();
    other.m_descriptor = -1;
    other.m_id = 0;
}

CStagingEntry& CStagingEntry::operator=(CStagingEntry&& other) noexcept
{
    if (this != &other) {
        Remove();
        m_path = std::move(other.m_path);
        m_descriptor = other.m_descriptor;
        m_folder = other.m_folder;
        m_id = other.m_id;
        other.m_path.clear();
        other.m_descriptor = -1;
        other.m_id = 0;
    }
    return *this;
}

bool CStagingEntry::CreateFile(const fs::path& folder, std::string_view stem, std::string& error)
{
    Remove();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        fs::path path = folder / EntryName(stem);
        const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        if (!LockFresh(descriptor)) {
            close(descriptor);
            continue;
        }
        m_path = std::move(path);
        m_descriptor = descriptor;
        m_folder = false;
        break;
    }
    if (m_path.empty()) {
        error = "no free name for a temporary file in " + folder.string();
        return false;
    }
    return Register(error);
}

bool CStagingEntry::CreateFolder(const fs::path& folder, std::string_view stem, std::string& error)
{
    Remove();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        fs::path path = folder / EntryName(stem);
        if (mkdir(path.c_str(), 0700) != 0) {
            if (errno == EEXIST) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        const int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0 || !LockFresh(descriptor)) {
            if (descriptor >= 0) {
                close(descriptor);
            }
            continue;
        }
        m_path = std::move(path);
        m_descriptor = descriptor;
        m_folder = true;
        break;
    }
    if (m_path.empty()) {
        error = "no free name for a temporary folder in " + folder.string();
        return false;
    }
    return Register(error);
}

bool CStagingEntry::Register(std::string& error)
{
    OwnEntries& own = Own();
    std::unique_lock lock(own.mutex);
    if (own.ending) {
        lock.unlock();
        Remove();
        error = "the program is ending";
        return false;
    }
    m_id = own.next++;
    own.entries.emplace(m_id, std::make_pair(m_path, m_folder));
    return true;
}

std::string CStagingEntry::Write(std::span<const std::uint8_t> bytes)
{
    if (m_descriptor < 0 || m_folder) {
        return "no file to write";
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = write(m_descriptor, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return std::strerror(put < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(put);
    }
    // A network file system may report a failed write only when the file is
    // closed; closing a copy of the descriptor asks for that while the entry
    // stays open, and locked.
    const int copy = dup(m_descriptor);
    if (copy < 0 || close(copy) != 0) {
        return std::strerror(errno);
    }
    WriteBehind(m_path);
    return {};
}

void CStagingEntry::Release()
{
    Forget();
}

void CStagingEntry::Remove()
{
    if (m_path.empty()) {
        return;
    }
    // Removed while the lock is held, so no other run can take the entry
    // for one of its own meanwhile.
    RemoveEntry(m_path, m_folder);
    Forget();
}

void CStagingEntry::Forget()
{
    if (m_id != 0) {
        OwnEntries& own = Own();
        std::lock_guard lock(own.mutex);
        own.entries.erase(m_id);
        m_id = 0;
    }
    if (m_descriptor >= 0) {
        close(m_descriptor);
        m_descriptor = -1;
    }
    m_path.clear();
}

void RemoveStaleStagingFiles(const fs::path& folder)
{
    const std::string& host = ThisHost();
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const std::optional<Writer> writer = WriterOf(name);
        if (!writer || writer->host != host || writer->pid == getpid()) {
            continue;
        }
        // A process that exists (also one that merely belongs to someone
        // else: EPERM) is still at work.
        if (kill(writer->pid, 0) == 0 || errno != ESRCH) {
            continue;
        }
        std::error_code statusError;
        const fs::file_status status = entry->symlink_status(statusError);
        const bool folderEntry = fs::is_directory(status);
        if (statusError || (!folderEntry && !fs::is_regular_file(status))) {
            continue;
        }
        const int descriptor =
            open(entry->path().c_str(), (folderEntry ? O_RDONLY | O_DIRECTORY : O_RDONLY | O_NONBLOCK) | O_NOFOLLOW |
                                            O_CLOEXEC);
        if (descriptor < 0) {
            continue;
        }
        // A lock still held is a writer in a process space of its own.
        if (flock(descriptor, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
            RemoveEntry(entry->path(), folderEntry);
        }
        close(descriptor);
    }
}

void RemoveOwnStagingEntries()
{
    OwnEntries& own = Own();
    std::lock_guard lock(own.mutex);
    own.ending = true;  // and none are made from now on
    for (const auto& [id, entry] : own.entries) {
        RemoveEntry(entry.first, entry.second);
    }
}

}  // namespace skelvane
