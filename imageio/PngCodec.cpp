// PLACEHOLDER until the Png codec lands; must not be committed.
#include "engine/ImageBuffer.h"
namespace skelvane {
bool CImageBuffer::LoadPng(const std::filesystem::path&) { Release(); return false; }
bool CImageBuffer::SavePng(const std::filesystem::path&, bool) { return false; }
}
