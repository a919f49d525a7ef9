// Whole-file access for the image codecs.
//
// Readers get the whole file in memory (read with ordinary reads: a mapping of
// a file that another process truncates would kill the program). Writers
// encode into memory; the finished bytes go to a temporary file in the target
// folder that is renamed over the target only when complete, so a failed save
// damages nothing and leaves no partial file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace skelvane {

class CStagingEntry;

// Opens `path` for reading when it is a regular file; anything else named
// like an image (a FIFO, a device, a folder) is refused at once, before an
// open or a read could block for good or never end. -1 with the reason in
// `error` ("there is no such file", "it is not a regular file", ...).
int OpenRegularFile(const std::filesystem::path& path, std::string& error);

class MappedInput {
public:
    // False for a file that is missing, not a regular file, unreadable or
    // empty, with the reason in Error(). Throws CAllocationFailure when the
    // file's bytes do not fit in memory. At most `most` bytes are read: the
    // front of a file whose header is all the caller needs.
    bool Open(const std::filesystem::path& path, std::size_t most = SIZE_MAX);
    std::span<const std::uint8_t> Data() const { return {m_data.get(), m_size}; }
    const std::string& Error() const { return m_error; }

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_size = 0;
    std::string m_error;
};

class MappedOutput {
public:
    enum class Mode {
        Replace,    // an existing target is replaced
        Exclusive,  // an existing target (file or folder) makes the commit fail
    };

    explicit MappedOutput(std::filesystem::path target, Mode mode = Mode::Replace);
    ~MappedOutput();
    MappedOutput(const MappedOutput&) = delete;
    MappedOutput& operator=(const MappedOutput&) = delete;

    // The encoder appends its bytes here; the file is exactly this long.
    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

    // Writes the bytes to the target. On failure the target is as it was
    // and no temporary file remains; the system's reason ("No space left on
    // device") is in Error().
    bool Commit();
    // Writes the bytes into a staging file beside the target and hands it to
    // `staged` instead, for a caller that gives it its name later.
    bool CommitStaged(CStagingEntry& staged);
    const std::string& Error() const { return m_error; }

private:
    std::filesystem::path m_target;
    Mode m_mode;
    std::vector<std::uint8_t> m_bytes;
    std::string m_error;
};

}  // namespace skelvane
