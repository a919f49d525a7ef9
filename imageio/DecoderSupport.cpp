#include "imageio/DecoderSupport.h"

#include <cctype>

namespace skelvane {
namespace {

std::string Claims(std::int64_t width, std::int64_t height)
{
    return "header claims " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

}  // namespace

bool CheckDeclaredSize(std::int64_t width, std::int64_t height, std::string& reason)
{
    if (width > kMaxImageSide || height > kMaxImageSide) {
        reason = Claims(width, height) + ", more than the " + std::to_string(kMaxImageSide) + " limit";
        return false;
    }
    if (width <= 0 || height <= 0) {
        reason = Claims(width, height);
        return false;
    }
    return true;
}

bool CheckDataCovers(std::int64_t width, std::int64_t height, std::uint64_t needed, std::uint64_t available,
                     std::string& reason)
{
    if (available >= needed) {
        return true;
    }
    reason = Claims(width, height) + ", which take at least " + std::to_string(needed) +
             " bytes of image data; the file has " + std::to_string(available);
    return false;
}

std::string LibraryReason(std::string_view message)
{
    std::string reason(message);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.' || reason.back() == ' ')) {
        reason.pop_back();
    }
    if (reason.size() >= 2 && std::isupper(static_cast<unsigned char>(reason[0])) &&
        std::islower(static_cast<unsigned char>(reason[1]))) {
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    }
    return reason;
}

}  // namespace skelvane
