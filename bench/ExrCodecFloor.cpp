// The codec floor of a half-float OpenEXR sweep: the wall time OpenEXR alone
// needs to read and decode the panorama once and to encode and write one
// half-float RGBA dome per frame (ZIP, scan lines, as the program writes
// them), on the library's own threads. Nothing of ours runs in the timed
// part; the dome content is a real dome decoded beforehand.
//
//   bench_exr_codec_floor panorama OUT.exr WIDTH HEIGHT
//       writes a half-float sky: smooth gradients above white near a sun,
//       fine waves and a little grain, so that it compresses like a render
//   bench_exr_codec_floor time PANORAMA.exr FRAMES DOME.exr OUT_DIR [THREADS]
//       prints the floor in seconds
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <OpenEXR/ImfArray.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfThreading.h>

namespace {
namespace fs = std::filesystem;

int WritePanorama(const fs::path& path, int width, int height)
{
    Imf::Array2D<Imf::Rgba> pixels(height, width);
    unsigned noise = 12345;
    for (int y = 0; y < height; ++y) {
        const double lat = M_PI * (0.5 - (y + 0.5) / height);
        for (int x = 0; x < width; ++x) {
            const double lon = 2 * M_PI * (x + 0.5) / width;
            const double sun = std::exp(-40.0 * ((lon - 2.0) * (lon - 2.0) + (lat - 0.6) * (lat - 0.6)));
            const double waves = 0.05 * std::sin(37.0 * lon) * std::cos(23.0 * lat);
            noise = noise * 1664525u + 1013904223u;
            const double grain = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.004;
            const double sky = 0.3 + 0.5 * std::max(0.0, lat) + waves + grain;
            const double ground = 0.08 + 0.5 * waves + grain;
            const double v = (lat > 0 ? sky : ground) + 6.0 * sun;
            pixels[y][x] = Imf::Rgba(static_cast<float>(v * 0.8), static_cast<float>(v * 0.9), static_cast<float>(v), 1.0f);
        }
    }
    Imf::RgbaOutputFile file(path.c_str(), width, height, Imf::WRITE_RGBA, 1, Imath::V2f(0, 0), 1,
                             Imf::INCREASING_Y, Imf::ZIP_COMPRESSION, Imf::globalThreadCount());
    file.setFrameBuffer(&pixels[0][0], 1, width);
    file.writePixels(height);
    return 0;
}

struct Picture {
    int width = 0;
    int height = 0;
    Imf::Array2D<Imf::Rgba> pixels;
};

void Read(const fs::path& path, Picture& picture)
{
    Imf::RgbaInputFile file(path.c_str(), Imf::globalThreadCount());
    const Imath::Box2i window = file.dataWindow();
    picture.width = window.max.x - window.min.x + 1;
    picture.height = window.max.y - window.min.y + 1;
    picture.pixels.resizeErase(picture.height, picture.width);
    file.setFrameBuffer(&picture.pixels[0][0] - window.min.x - window.min.y * picture.width, 1, picture.width);
    file.readPixels(window.min.y, window.max.y);
}

void Write(const fs::path& path, const Picture& picture)
{
    Imf::RgbaOutputFile file(path.c_str(), picture.width, picture.height, Imf::WRITE_RGBA, 1, Imath::V2f(0, 0), 1,
                             Imf::INCREASING_Y, Imf::ZIP_COMPRESSION, Imf::globalThreadCount());
    file.setFrameBuffer(&picture.pixels[0][0], 1, picture.width);
    file.writePixels(picture.height);
}

int Time(const fs::path& panorama, int frames, const fs::path& domeFile, const fs::path& out, int threads)
{
    Imf::setGlobalThreadCount(threads);
    Picture dome;
    Read(domeFile, dome);
    fs::create_directories(out);
    const auto start = std::chrono::steady_clock::now();
    Picture pano;
    Read(panorama, pano);
    for (int k = 0; k < frames; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "%04d.exr", k);
        Write(out / name, dome);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "panorama" && argc == 5) {
            return WritePanorama(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
        }
        if (mode == "time" && (argc == 6 || argc == 7)) {
            return Time(argv[2], std::atoi(argv[3]), argv[4], argv[5], argc == 7 ? std::atoi(argv[6]) : 2);
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: bench_exr_codec_floor panorama OUT.exr WIDTH HEIGHT\n"
                 "       bench_exr_codec_floor time PANORAMA.exr FRAMES DOME.exr OUT_DIR [THREADS]\n");
    return 2;
}
