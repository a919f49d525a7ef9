// The codec floor of a Cube2Dome render: the wall time libjpeg-turbo alone
// needs to read and decode every face of the frames and to encode and write
// one dome master per frame, spread over the given threads. Nothing of ours
// runs in the timed part; the dome content is a real dome decoded beforehand.
//
//   bench_codec_floor UPPER_DIR FRAMES DOME.jpg OUT_DIR [THREADS [QUALITY]]
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "cube2dome/Cube2DomeSettings.h"
#include "cube2dome/FaceFrameList.h"

namespace {
namespace fs = std::filesystem;

std::vector<unsigned char> ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes into 4 bytes a pixel, as the program's working format holds them,
// into `pixels` (reused between calls, never cleared: the floor must not pay
// for zeroing or fresh pages the codec itself does not need).
void DecodeInto(const std::vector<unsigned char>& bytes, std::vector<unsigned char>& pixels, int& width, int& height)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    if (pixels.size() < static_cast<std::size_t>(width) * height * 4) {
        pixels.resize(static_cast<std::size_t>(width) * height * 4);
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + static_cast<std::size_t>(info.output_scanline) * width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

void EncodeToFile(const std::vector<unsigned char>& pixels, int width, int height, int quality, const fs::path& path)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + static_cast<std::size_t>(info.next_scanline) * width * 4;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(size));
    std::free(buffer);
    jpeg_destroy_compress(&info);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s UPPER_DIR FRAMES DOME.jpg OUT_DIR [THREADS [QUALITY]]\n", argv[0]);
        return 2;
    }
    const fs::path upper = argv[1];
    const int frames = std::atoi(argv[2]);
    const fs::path out = argv[4];
    const int threads = argc > 5 ? std::atoi(argv[5]) : tbb::info::default_concurrency();
    const int quality = argc > 6 ? std::atoi(argv[6]) : 100;

    std::vector<fs::path> faces;
    for (std::string_view word : skelvane::kFaceWords) {
        const auto list = skelvane::ListFaceFrames(upper / std::string(word), "jpg");
        for (int n = 0; n < frames && n < static_cast<int>(list->Count()); ++n) {
            faces.push_back(list->At(static_cast<std::size_t>(n)));
        }
    }
    int domeWidth = 0;
    int domeHeight = 0;
    std::vector<unsigned char> dome;
    DecodeInto(ReadAll(argv[3]), dome, domeWidth, domeHeight);
    fs::create_directories(out);

    const auto start = std::chrono::steady_clock::now();
    tbb::task_arena arena(threads);
    arena.execute([&] {
        // The long encodes first, the short decodes fill in: no thread idles
        // at the end while another finishes a dome.
        const int tasks = static_cast<int>(faces.size()) + frames;
        tbb::enumerable_thread_specific<std::vector<unsigned char>> buffers;
        tbb::parallel_for(0, tasks, [&](int n) {
            if (n < frames) {
                EncodeToFile(dome, domeWidth, domeHeight, quality, out / ("floor_" + std::to_string(n) + ".jpg"));
            } else {
                int width = 0;
                int height = 0;
                DecodeInto(ReadAll(faces[static_cast<std::size_t>(n - frames)]), buffers.local(), width, height);
            }
        }, tbb::simple_partitioner());
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", seconds);
    std::fprintf(stderr, "decoded %zu faces, encoded %d domes of %dx%d at quality %d on %d threads\n", faces.size(),
                 frames, domeWidth, domeHeight, quality, threads);
    return 0;
}
