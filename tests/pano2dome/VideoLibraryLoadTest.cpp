// A program that writes stills must not load FFmpeg; its first video does.
// This binary links the core alone, as the programs do.
#include <link.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/image/ImageBuffer.h"
#include "pano2dome/VideoEncoder.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

bool Loaded(const std::string& name)
{
    bool found = false;
    auto visit = [](dl_phdr_info* info, std::size_t, void* data) {
        auto* state = static_cast<std::pair<const std::string*, bool*>*>(data);
        if (info->dlpi_name && std::string(info->dlpi_name).find(*state->first) != std::string::npos) {
            *state->second = true;
        }
        return 0;
    };
    std::pair<const std::string*, bool*> state{&name, &found};
    dl_iterate_phdr(visit, &state);
    return found;
}

TEST(VideoLibrary, LoadedWithTheFirstVideoAndNotBefore)
{
    const fs::path dir = fs::temp_directory_path() / ("skelvane-video-load-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    CImageBuffer frame;
    ASSERT_TRUE(frame.AllocateForReader(64, 64, 32));
    ASSERT_TRUE(frame.Save(dir / "still.png"));
    ASSERT_TRUE(frame.Save(dir / "still.jpg"));
#ifndef SKELVANE_VIDEO_LIBRARY_AT_START  // address-sanitizer builds link it in
    EXPECT_FALSE(Loaded("libavcodec"));
    EXPECT_FALSE(Loaded("libskelvane-video"));
#endif

    CVideoEncoder encoder;
    encoder.SetMPEGWidth(64);
    encoder.SetMPEGHeight(64);
    encoder.SetFrameRate(25.0f);
    ASSERT_TRUE(encoder.OpenMPEG(dir / "video.mov")) << encoder.GetError();
    EXPECT_TRUE(Loaded("libskelvane-video"));
    EXPECT_TRUE(Loaded("libavcodec"));
    ASSERT_EQ(encoder.AddFrame(frame), 1) << encoder.GetError();
    ASSERT_TRUE(encoder.CloseMPEG()) << encoder.GetError();
    EXPECT_GT(fs::file_size(dir / "video.mov"), 0u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace skelvane
