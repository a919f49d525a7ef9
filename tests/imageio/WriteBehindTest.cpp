#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imageio/MappedFile.h"
#include "imageio/WriteBehind.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

constexpr long kTmpfsMagic = 0x01021994;

int OpenDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// How many of the file's pages are in the page cache.
std::size_t CachedPages(const fs::path& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::size_t size = fs::file_size(path);
    void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
    close(descriptor);
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    std::size_t cached = 0;
    if (map != MAP_FAILED && mincore(map, size, resident.data()) == 0) {
        for (const unsigned char flags : resident) {
            cached += flags & 1;
        }
    }
    munmap(map, size);
    return cached;
}

// Files saved one after another keep every byte, leave the page cache once a
// few newer ones follow, and leave no descriptor open beyond the few the
// window holds.
TEST(WriteBehind, SavedFilesLeaveTheCacheAndKeepTheirBytes)
{
    test::TempDir dir;
    struct statfs system {};
    ASSERT_EQ(statfs(dir.Path().c_str(), &system), 0);
    const int descriptorsBefore = OpenDescriptors();
    const int files = 3 * kWriteBehindFiles;
    std::vector<std::vector<std::uint8_t>> contents;
    for (int k = 0; k < files; ++k) {
        std::vector<std::uint8_t> bytes(std::size_t{1} << 20);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 2654435761u >> 13) + static_cast<std::size_t>(k));
        }
        MappedOutput output(dir / ("frame" + std::to_string(k) + ".raw"), MappedOutput::Mode::Exclusive);
        output.Bytes() = bytes;
        ASSERT_TRUE(output.Commit()) << output.Error();
        contents.push_back(std::move(bytes));
    }
    EXPECT_LE(OpenDescriptors() - descriptorsBefore, kWriteBehindFiles);
    for (int k = 0; k < files; ++k) {
        const fs::path path = dir / ("frame" + std::to_string(k) + ".raw");
        if (k < files - kWriteBehindFiles && system.f_type != kTmpfsMagic) {  // tmpfs has only its cache
            EXPECT_EQ(CachedPages(path), 0u) << "file " << k << " is still cached";
        }
        EXPECT_EQ(test::ReadFileBytes(path), contents[static_cast<std::size_t>(k)]) << "file " << k;
    }
}

}  // namespace
}  // namespace skelvane
