// PLACEHOLDER until the Jpeg codec lands; must not be committed.
#include "engine/ImageBuffer.h"
namespace skelvane {
bool CImageBuffer::LoadJpeg(const std::filesystem::path&) { Release(); return false; }
bool CImageBuffer::SaveJpeg(const std::filesystem::path&, int) { return false; }
}
