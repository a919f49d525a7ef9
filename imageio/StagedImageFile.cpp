#include "imageio/StagedImageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>


namespace skelvane {
namespace fs = std::filesystem;

namespace {

std::string UniqueStem()
{
    static const unsigned long long processSeed = [] {
        std::random_device device;
        return (static_cast<unsigned long long>(device()) << 32) ^ device();
    }();
    static std::atomic<unsigned long long> counter{0};
    char text[64];
    std::snprintf(text, sizeof text, ".skelvane-stage-%d-%llx-%llu", static_cast<int>(getpid()), processSeed,
                  counter.fetch_add(1, std::memory_order_relaxed));
    return text;
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
