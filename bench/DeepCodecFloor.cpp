// The codec floor of a 16-bit Cube2Dome render to TIFF: the wall time
// libtiff alone needs to read and decode every face of the frames and to
// encode and write one 16-bit dome per frame (RGBA, Deflate with the
// horizontal predictor and 1 MiB strips, as the program writes them), spread
// over the given threads. Nothing of ours runs in the timed part; the dome
// content is a real dome decoded beforehand.
//
//   bench_deep_codec_floor faces SOURCE_UPPER_DIR UPPER_DIR FRAMES
//       widens the first FRAMES frames of 8-bit faces (as `skelvane-cli sample` writes them) into
//       16-bit TIFF faces, with a fine ramp added so that their levels are not multiples of 257
//   bench_deep_codec_floor time UPPER_DIR FRAMES DOME.tif OUT_DIR [THREADS]
//       prints the floor in seconds
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tiffio.h>

#include "cube2dome/Cube2DomeSettings.h"
#include "cube2dome/FaceFrameList.h"
#include "engine/image/DepthConversion.h"
#include "imageio/ImageCodec.h"

namespace {
namespace fs = std::filesystem;

struct Raster {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 0;
    std::vector<std::uint8_t> bytes;  // reused between files, never cleared
};

// Every strip or tile of a TIFF file decoded into `raster`.
bool DecodeTiff(const fs::path& path, Raster& raster)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) {
        return false;
    }
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &raster.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &raster.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &raster.samples);
    const bool tiled = TIFFIsTiled(tiff);
    const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    const tmsize_t pieceBytes = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
    const std::size_t total = static_cast<std::size_t>(pieceBytes) * pieces;
    if (raster.bytes.size() < total) {
        raster.bytes.resize(total);
    }
    bool ok = true;
    for (std::uint32_t n = 0; n < pieces && ok; ++n) {
        std::uint8_t* to = raster.bytes.data() + static_cast<std::size_t>(pieceBytes) * n;
        ok = (tiled ? TIFFReadEncodedTile(tiff, n, to, pieceBytes) : TIFFReadEncodedStrip(tiff, n, to, pieceBytes)) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

bool EncodeTiff(const Raster& raster, const fs::path& path)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) {
        return false;
    }
    const std::uint64_t rowBytes = std::uint64_t{raster.width} * raster.samples * 2;
    const auto rowsPerStrip =
        static_cast<std::uint32_t>(std::clamp<std::uint64_t>((std::uint64_t{1} << 20) / rowBytes, 1, raster.height));
    const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, raster.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, raster.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, raster.samples);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (raster.samples == 4) {
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    // The predictor works in place, so each strip is written from a copy.
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(rowBytes * rowsPerStrip));
    bool ok = true;
    for (std::uint32_t first = 0, n = 0; first < raster.height && ok; first += rowsPerStrip, ++n) {
        const std::uint32_t rows = std::min(rowsPerStrip, raster.height - first);
        const std::size_t bytes = static_cast<std::size_t>(rowBytes * rows);
        std::copy_n(raster.bytes.data() + static_cast<std::size_t>(rowBytes * first), bytes, strip.data());
        ok = TIFFWriteEncodedStrip(tiff, n, strip.data(), static_cast<tmsize_t>(bytes)) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

std::vector<fs::path> FaceFiles(const fs::path& upper, const char* extension, int frames)
{
    std::vector<fs::path> faces;
    for (std::string_view word : skelvane::kFaceWords) {
        const auto list = skelvane::ListFaceFrames(upper / std::string(word), extension);
        for (int n = 0; n < frames && n < static_cast<int>(list->Count()); ++n) {
            faces.push_back(list->At(static_cast<std::size_t>(n)));
        }
    }
    return faces;
}

int MakeFaces(const fs::path& source, const fs::path& upper, int frames)
{
    std::vector<fs::path> faces;
    for (const char* extension : {"bmp", "png", "tif", "jpg"}) {
        if (faces = FaceFiles(source, extension, frames); !faces.empty()) {
            break;
        }
    }
    int failed = 0;
    tbb::parallel_for(std::size_t{0}, faces.size(), [&](std::size_t n) {
        skelvane::CImageBuffer face;
        bool ok = face.Load(faces[n]) && skelvane::ConvertChannelType(face, skelvane::ChannelType::Uint16);
        for (std::int32_t y = 0; ok && y < face.GetHeight(); ++y) {
            skelvane::Pixel16* row = face.Row16(y);
            for (std::int32_t x = 0; x < face.GetWidth(); ++x) {
                const int ramp = (x + 3 * y) % 256 - 128;
                row[x].green = static_cast<std::uint16_t>(std::clamp(row[x].green + ramp, 0, 65535));
            }
        }
        skelvane::ImageWriteOptions sixteen;
        sixteen.depth = skelvane::kDepth16;
        const fs::path target = upper / faces[n].parent_path().filename() / faces[n].stem();
        fs::create_directories(target.parent_path());
        if (!ok || !face.Save(target.string() + ".tif", sixteen)) {
            ++failed;
        }
    });
    std::fprintf(stderr, "wrote %zu 16-bit faces, %d failed\n", faces.size(), failed);
    return failed == 0 ? 0 : 1;
}

int TimeFloor(const fs::path& upper, int frames, const fs::path& domeFile, const fs::path& out, int threads)
{
    const std::vector<fs::path> faces = FaceFiles(upper, "tif", frames);
    Raster dome;
    if (!DecodeTiff(domeFile, dome)) {
        std::fprintf(stderr, "cannot read %s\n", domeFile.c_str());
        return 1;
    }
    fs::create_directories(out);
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    tbb::task_arena arena(threads);
    arena.execute([&] {
        // The long encodes first, the short decodes fill in: no thread idles
        // at the end while another finishes a dome.
        const int tasks = static_cast<int>(faces.size()) + frames;
        tbb::enumerable_thread_specific<Raster> rasters;
        tbb::parallel_for(0, tasks, [&](int n) {
            const bool done = n < frames ? EncodeTiff(dome, out / ("floor_" + std::to_string(n) + ".tif"))
                                         : DecodeTiff(faces[static_cast<std::size_t>(n - frames)], rasters.local());
            if (!done) {
                ok = false;
            }
        }, tbb::simple_partitioner());
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", seconds);
    std::fprintf(stderr, "decoded %zu faces, encoded %d domes of %ux%u on %d threads%s\n", faces.size(), frames,
                 dome.width, dome.height, threads, ok ? "" : "; SOME FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "faces" && argc == 5) {
        return MakeFaces(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (mode == "time" && argc >= 6) {
        const int threads = argc > 6 ? std::atoi(argv[6]) : tbb::info::default_concurrency();
        return TimeFloor(argv[2], std::atoi(argv[3]), argv[4], argv[5], threads);
    }
    std::fprintf(stderr,
                 "usage: %s faces SOURCE_UPPER_DIR UPPER_DIR FRAMES\n"
                 "       %s time UPPER_DIR FRAMES DOME.tif OUT_DIR [THREADS]\n",
                 argv[0], argv[0]);
    return 2;
}
