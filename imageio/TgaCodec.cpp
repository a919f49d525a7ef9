// PLACEHOLDER until the Tga codec lands; must not be committed.
#include "engine/ImageBuffer.h"
namespace skelvane {
bool CImageBuffer::LoadTga(const std::filesystem::path&) { Release(); return false; }
bool CImageBuffer::SaveTga(const std::filesystem::path&, bool) { return false; }
}
