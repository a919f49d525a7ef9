#include "support/TempDir.h"

#include <atomic>
#include <random>
#include <string>
#include <system_error>

namespace skelvane::test {

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const std::string name = "skelvane-test-" + std::to_string(device()) + "-" + std::to_string(counter++);
    m_path = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace skelvane::test
