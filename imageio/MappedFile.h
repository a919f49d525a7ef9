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

class MappedInput {
public:
    // False for a file that is missing, unreadable or empty.
    bool Open(const std::filesystem::path& path);
    std::span<const std::uint8_t> Data() const { return {m_data.get(), m_size}; }

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_size = 0;
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
    const std::string& Error() const { return m_error; }

private:
    std::filesystem::path m_target;
    Mode m_mode;
    std::vector<std::uint8_t> m_bytes;
    std::string m_error;
};

}  // namespace skelvane
