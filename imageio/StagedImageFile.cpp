#include "imageio/StagedImageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "imageio/ImageCodecRegistry.h"
#include "imageio/MappedFile.h"

namespace skelvane {
namespace fs = std::filesystem;

namespace {

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
    return CStagedImageFile::PublishResult::Published;
}

}  // namespace

CStagedImageFile::~CStagedImageFile()
{
    Discard();
}

template <class Encode>
bool CStagedImageFile::StageEncoded(const fs::path& folder, std::string_view extension, std::string& error,
                                    Encode&& encode)
{
    Discard();
    // The codec is the one a file of that extension gets.
    MappedOutput output(folder / ("skelvane-stage." + std::string(extension)));
    if (!encode("frame." + std::string(extension), output.Bytes())) {
        return false;
    }
    if (!output.CommitStaged(m_staged)) {
        error = output.Error();
        return false;
    }
    return true;
}

bool CStagedImageFile::Stage(CImageBuffer& image, const fs::path& folder, std::string_view extension,
                             std::string& error)
{
    return Stage(image, folder, extension, ImageWriteOptions{}, error);
}

bool CStagedImageFile::Stage(CImageBuffer& image, const fs::path& folder, std::string_view extension,
                             const ImageWriteOptions& options, std::string& error)
{
    return StageEncoded(folder, extension, error, [&](const fs::path& name, std::vector<std::uint8_t>& bytes) {
        return EncodeImageFile(image, name, options, bytes, &error);
    });
}

bool CStagedImageFile::Stage(CBandedImage& image, const fs::path& folder, std::string_view extension,
                             const ImageWriteOptions& options, std::string& error)
{
    return StageEncoded(folder, extension, error, [&](const fs::path& name, std::vector<std::uint8_t>& bytes) {
        return EncodeImageRows(image, name, options, bytes, &error);
    });
}

CStagedImageFile::PublishResult CStagedImageFile::Publish(const fs::path& target, std::string& error)
{
    if (!m_staged.Exists()) {
        error = "nothing staged";
        return PublishResult::Failed;
    }
    const fs::path& staged = m_staged.Path();
    if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        m_staged.Release();
        return PublishResult::Published;
    }
    if (errno == EEXIST) {
        return PublishResult::NameTaken;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        error = ErrorText(errno);
        return PublishResult::Failed;
    }
    PublishResult result = PublishResult::Failed;
    if (link(staged.c_str(), target.c_str()) == 0) {
        result = PublishResult::Published;
    } else if (errno == EEXIST) {
        return PublishResult::NameTaken;
    } else {
        result = CopyExclusive(staged, target, error);
    }
    if (result == PublishResult::Published) {
        m_staged.Remove();  // the target holds the bytes under its own name
    }
    return result;
}

bool CStagedImageFile::PublishReplacing(const fs::path& target, std::string& error)
{
    if (!m_staged.Exists()) {
        error = "nothing staged";
        return false;
    }
    if (std::rename(m_staged.Path().c_str(), target.c_str()) != 0) {
        error = ErrorText(errno);
        return false;
    }
    m_staged.Release();
    return true;
}

void CStagedImageFile::Discard()
{
    m_staged.Remove();
}

}  // namespace skelvane
