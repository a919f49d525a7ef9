// PLACEHOLDER until the Bmp codec lands; must not be committed.
#include "engine/ImageBuffer.h"
namespace skelvane {
bool CImageBuffer::LoadBmp(const std::filesystem::path&) { Release(); return false; }
bool CImageBuffer::SaveBmp(const std::filesystem::path&) { return false; }
}
