// Image files: decode and encode of dome-sized images in each format, in
// memory and through files, beside libjpeg-turbo doing the same JPEG work
// directly (same colour spaces, quality and defaults) and beside the memory
// floor for the formats that only move bytes.
//
// The machine is shared and noisy: compare within one run, interleaved, e.g.
//   bench_codecs --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//                --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <jpeglib.h>

#include "engine/image/ImageBuffer.h"
#include "imageio/BmpCodec.h"
#include "imageio/JpegCodec.h"
#include "imageio/PngCodec.h"
#include "imageio/TgaCodec.h"
#include "support/MemoryFloor.h"

namespace skelvane::bench {
namespace {

// A dome-like picture: smooth colour with fine texture inside the circle,
// transparent black outside, as the renderers produce.
const CImageBuffer& DomeImage(std::int32_t size)
{
    static CImageBuffer images[2];
    CImageBuffer& image = images[size == 2048 ? 0 : 1];
    if (image.IsEmpty()) {
        image.Create(size, size);
        const double radius = size / 2.0;
        for (std::int32_t y = 0; y < size; ++y) {
            std::uint32_t* row = image.Row32(y);
            for (std::int32_t x = 0; x < size; ++x) {
                const double dx = x + 0.5 - radius;
                const double dy = y + 0.5 - radius;
                if (dx * dx + dy * dy > radius * radius) {
                    row[x] = 0;
                    continue;
                }
                const std::uint32_t hash = (static_cast<std::uint32_t>(x) * 73856093u) ^
                                           (static_cast<std::uint32_t>(y) * 19349663u);
                const std::uint32_t red = static_cast<std::uint32_t>(x) * 255 / size;
                const std::uint32_t green = static_cast<std::uint32_t>(y) * 255 / size;
                const std::uint32_t blue = ((x ^ y) & 0x3F) + (hash >> 29);
                row[x] = 0xFF000000u | red << 16 | green << 8 | blue;
            }
        }
    }
    return image;
}

CImageBuffer CopyOf(const CImageBuffer& source)
{
    CImageBuffer copy;
    copy.CopyFrom(source);
    return copy;
}

std::int64_t PixelBytes(std::int32_t size)
{
    return std::int64_t{size} * size * 4;
}

// ---- libjpeg-turbo directly ----

// The rows are the image's own, as ours reads them.
std::vector<std::uint8_t> DirectJpegEncode(const CImageBuffer& image, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.GetWidth());
    cinfo.image_height = static_cast<JDIMENSION>(image.GetHeight());
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.image_height - cinfo.next_scanline);
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = const_cast<JSAMPROW>(image.Row(static_cast<std::int32_t>(cinfo.next_scanline + i)));
        }
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

void DirectJpegDecode(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& pixels)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), file.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    pixels.resize(std::size_t{cinfo.output_width} * cinfo.output_height * 4);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.output_height - cinfo.output_scanline);
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = pixels.data() + std::size_t{cinfo.output_scanline + i} * cinfo.output_width * 4;
        }
        jpeg_read_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

void BM_JpegEncodeDirect(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    const CImageBuffer& image = DomeImage(size);
    std::size_t fileSize = 0;
    for (auto _ : state) {
        auto bytes = DirectJpegEncode(image, 100);
        fileSize = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(fileSize));
}

void BM_JpegEncode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    std::size_t fileSize = 0;
    for (auto _ : state) {
        std::vector<std::uint8_t> bytes;
        EncodeJpeg(image, 100, bytes);
        fileSize = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(fileSize));
}

void BM_JpegDecodeDirect(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    std::vector<std::uint8_t> file;
    EncodeJpeg(image, 100, file);
    std::vector<std::uint8_t> pixels;  // reused: the library's floor, without first-touch page faults
    DirectJpegDecode(file, pixels);
    for (auto _ : state) {
        DirectJpegDecode(file, pixels);
        benchmark::DoNotOptimize(pixels.data());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(file.size()));
}

void BM_JpegDecode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    std::vector<std::uint8_t> file;
    EncodeJpeg(image, 100, file);
    for (auto _ : state) {
        CImageBuffer loaded;
        DecodeJpeg(file, loaded);
        benchmark::DoNotOptimize(loaded.Bits());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(file.size()));
}

// ---- PNG ----

void BM_PngEncode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    const CImageBuffer& image = DomeImage(size);
    std::size_t fileSize = 0;
    std::vector<std::uint8_t> bytes;  // reused: the codec's cost without first-touch page faults
    EncodePng(image, false, bytes);
    for (auto _ : state) {
        bytes.clear();
        EncodePng(image, false, bytes);
        fileSize = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["file_MB"] = static_cast<double>(fileSize) / 1e6;
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(fileSize));
}

void BM_PngDecode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    std::vector<std::uint8_t> file;
    EncodePng(DomeImage(size), false, file);
    for (auto _ : state) {
        CImageBuffer loaded;
        DecodePng(file, loaded);
        benchmark::DoNotOptimize(loaded.Bits());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(file.size()));
}

// ---- TGA: run-length as Save writes it, and raw ----

void BM_TgaEncode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    const bool runLength = state.range(1) != 0;
    CImageBuffer image = CopyOf(DomeImage(size));
    std::size_t fileSize = 0;
    std::vector<std::uint8_t> bytes;  // reused: the codec's cost without first-touch page faults
    EncodeTga(image, runLength, bytes);
    for (auto _ : state) {
        bytes.clear();
        EncodeTga(image, runLength, bytes);
        fileSize = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(fileSize));
}

void BM_TgaDecode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    const bool runLength = state.range(1) != 0;
    CImageBuffer image = CopyOf(DomeImage(size));
    std::vector<std::uint8_t> file;
    EncodeTga(image, runLength, file);
    for (auto _ : state) {
        CImageBuffer loaded;
        DecodeTga(file, loaded);
        benchmark::DoNotOptimize(loaded.Bits());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(file.size()));
}

// ---- BMP (24-bit on disk) ----

void BM_BmpEncode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    std::vector<std::uint8_t> bytes;  // reused: the codec's cost without first-touch page faults
    EncodeBmp(image, bytes);
    for (auto _ : state) {
        bytes.clear();
        EncodeBmp(image, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(bytes.size()));
}

void BM_BmpDecode(benchmark::State& state)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    std::vector<std::uint8_t> file;
    EncodeBmp(image, file);
    for (auto _ : state) {
        CImageBuffer loaded;
        DecodeBmp(file, loaded);
        benchmark::DoNotOptimize(loaded.Bits());
    }
    ReportMemoryFloor(state, PixelBytes(size) + static_cast<std::int64_t>(file.size()));
}

// ---- whole files: Save and Load through the file system ----

std::filesystem::path BenchFile(const char* extension)
{
    return std::filesystem::temp_directory_path() / (std::string("skelvane-codec-bench") + extension);
}

void BM_Save(benchmark::State& state, const char* extension)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    const auto path = BenchFile(extension);
    for (auto _ : state) {
        benchmark::DoNotOptimize(image.Save(path));
    }
    const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path));
    ReportMemoryFloor(state, PixelBytes(size) + fileSize);
    std::filesystem::remove(path);
}

void BM_Load(benchmark::State& state, const char* extension)
{
    const auto size = static_cast<std::int32_t>(state.range(0));
    CImageBuffer image = CopyOf(DomeImage(size));
    const auto path = BenchFile(extension);
    image.Save(path);
    const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        CImageBuffer loaded;
        benchmark::DoNotOptimize(loaded.Load(path));
    }
    ReportMemoryFloor(state, PixelBytes(size) + fileSize);
    std::filesystem::remove(path);
}

#define SKELVANE_SIZES ->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime()
#define SKELVANE_TGA_SIZES                                                                                   \
    ->Args({2048, 1})->Args({2048, 0})->Args({4096, 1})->Args({4096, 0})->ArgNames({"size", "rle"})          \
        ->Unit(benchmark::kMillisecond)->UseRealTime()

BENCHMARK(BM_JpegEncodeDirect) SKELVANE_SIZES;
BENCHMARK(BM_JpegEncode) SKELVANE_SIZES;
BENCHMARK(BM_JpegDecodeDirect) SKELVANE_SIZES;
BENCHMARK(BM_JpegDecode) SKELVANE_SIZES;
BENCHMARK(BM_PngEncode) SKELVANE_SIZES;
BENCHMARK(BM_PngDecode) SKELVANE_SIZES;
BENCHMARK(BM_TgaEncode) SKELVANE_TGA_SIZES;
BENCHMARK(BM_TgaDecode) SKELVANE_TGA_SIZES;
BENCHMARK(BM_BmpEncode) SKELVANE_SIZES;
BENCHMARK(BM_BmpDecode) SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Save, bmp, ".bmp") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Load, bmp, ".bmp") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Save, jpeg, ".jpg") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Load, jpeg, ".jpg") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Save, png, ".png") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Load, png, ".png") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Save, tga, ".tga") SKELVANE_SIZES;
BENCHMARK_CAPTURE(BM_Load, tga, ".tga") SKELVANE_SIZES;

}  // namespace
}  // namespace skelvane::bench

BENCHMARK_MAIN();
