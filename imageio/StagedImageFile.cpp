#include "imageio/StagedImageFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>


namespace skelvane {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStagePrefix = ".skelvane-stage-";

std::string HostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// ".skelvane-stage-PID@HOST+SEED-N": the process and machine that staged it
// (a folder may be shared by many machines), then what makes it unique.
std::string UniqueStem()
{
    static const unsigned long long processSeed = [] {
        std::random_device device;
        return (static_cast<unsigned long long>(device()) << 32) ^ device();
    }();
    static const std::string host = HostName();
    static std::atomic<unsigned long long> counter{0};
    char text[64];
    std::snprintf(text, sizeof text, "%d@", static_cast<int>(getpid()));
    std::string stem = std::string(kStagePrefix) + text + host;
    std::snprintf(text, sizeof text, "+%llx-%llu", processSeed, counter.fetch_add(1, std::memory_order_relaxed));
    return stem + text;
}

// The staging process of a staged file's name (or of the partial file it was
// written through, ".<staged name>.part-..."), when it ran on this machine.
std::optional<pid_t> StagerOnThisHost(std::string_view name, const std::string& host)
{
    if (name.starts_with('.') && name.substr(1).starts_with(kStagePrefix)) {
        name.remove_prefix(1);
    }
    if (!name.starts_with(kStagePrefix)) {
        return std::nullopt;
    }
    name.remove_prefix(kStagePrefix.size());
    const std::size_t at = name.find('@');
    const std::size_t plus = name.find('+');
    if (at == std::string_view::npos || plus == std::string_view::npos || plus < at ||
        name.substr(at + 1, plus - at - 1) != host) {
        return std::nullopt;
    }
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + at, pid);
    if (error != std::errc() || end != name.data() + at || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

// Creates `target` exclusively and copies `source` into it; for file systems
// that can neither rename without replacing nor link.
CStagedImageFile::PublishResult CopyExclusive(const fs::path& source, const fs::path& target, std::string& error)
{
    const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        if (errno == EEXIST) {
            return CStagedImageFile::PublishResult::NameTaken;
        }
        error = ErrorText(errno);
        return CStagedImageFile::PublishResult::Failed;
    }
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    bool copied = in >= 0;
    char buffer[1 << 16];
    while (copied) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            copied = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; copied && done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR) {
                copied = false;
            } else if (put > 0) {
                done += put;
            }
        }
    }
    if (!copied) {
        error = ErrorText(errno);
    }
    if (in >= 0) {
        close(in);
    }
    if (close(out) != 0 && copied) {
        error = ErrorText(errno);
        copied = false;
    }
    if (!copied) {
        unlink(target.c_str());
        return CStagedImageFile::PublishResult::Failed;
    }
    unlink(source.c_str());
    return CStagedImageFile::PublishResult::Published;
}

}  // namespace

void RemoveStaleStagingFiles(const fs::path& folder)
{
    const std::string host = HostName();
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::optional<pid_t> stager = StagerOnThisHost(entry->path().filename().string(), host);
        // A process that is gone (not one that merely belongs to someone
        // else: EPERM) left it.
        if (stager && *stager != getpid() && kill(*stager, 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            fs::remove(entry->path(), ignored);
        }
    }
}

CStagedImageFile::~CStagedImageFile()
{
    Discard();
}

bool CStagedImageFile::Stage(CImageBuffer& image, const fs::path& folder, std::string_view extension,
                             std::string& error)
{
    Discard();
    fs::path temporary = folder / (UniqueStem() + "." + std::string(extension));
    if (!image.Save(temporary, &error)) {
        return false;
    }
    m_temporary = std::move(temporary);
    return true;
}

CStagedImageFile::PublishResult CStagedImageFile::Publish(const fs::path& target, std::string& error)
{
    if (m_temporary.empty()) {
        error = "nothing staged";
        return PublishResult::Failed;
    }
    PublishResult result = PublishResult::Failed;
    if (renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        result = PublishResult::Published;
    } else if (errno == EEXIST) {
        return PublishResult::NameTaken;
    } else if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        error = ErrorText(errno);
        return PublishResult::Failed;
    } else if (link(m_temporary.c_str(), target.c_str()) == 0) {
        unlink(m_temporary.c_str());
        result = PublishResult::Published;
    } else if (errno == EEXIST) {
        return PublishResult::NameTaken;
    } else {
        result = CopyExclusive(m_temporary, target, error);
        if (result == PublishResult::NameTaken) {
            return result;
        }
    }
    if (result == PublishResult::Published) {
        m_temporary.clear();
    }
    return result;
}

bool CStagedImageFile::PublishReplacing(const fs::path& target, std::string& error)
{
    if (m_temporary.empty()) {
        error = "nothing staged";
        return false;
    }
    if (std::rename(m_temporary.c_str(), target.c_str()) != 0) {
        error = ErrorText(errno);
        return false;
    }
    m_temporary.clear();
    return true;
}

void CStagedImageFile::Discard()
{
    if (!m_temporary.empty()) {
        std::error_code ignored;
        fs::remove(m_temporary, ignored);
        m_temporary.clear();
    }
}

}  // namespace skelvane
