// How close a sweep's frames come to the truth, against the still image.
//
// 1. An analytic scene: sums of plane waves over the unit sphere (wavelengths
//    from 0.5 to 5 degrees, a different mix per channel), so it has detail at
//    every scale a dome shows and no pole of its own.
// 2. The panorama: the scene sampled at every pixel position, column X at
//    longitude 2 pi X / (W - 1) (the seam wraps with period W - 1, as the
//    still image's renderer wraps it) and row Y at latitude pi Y / (H - 1) -
//    pi/2.
// 3. The truth per dome pixel: the mean of the scene over 8 x 8 points spread
//    evenly over the pixel, each point's direction from the fisheye and the
//    tilt in double precision, then shifted by the pan as the renderers
//    shift it.
// 4. Three renders of each pan: the still image (direct renderer), a frame of
//    the default sweep (working panorama and its map, as the job makes them)
//    and a frame of a sharp sweep (sharp map of the full panorama). Each is
//    scored by its PSNR against the truth over the pixels inside the circle.
//
//   bench_pano_quality [PANO_WIDTH [DOME [TILT [FOV]]]]   defaults: 4096 1024 30 180
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/ParallelRows.h"
#include "engine/projection/PanoDomeProjector.h"
#include "pano2dome/Pano2DomeJob.h"

namespace skelvane::bench {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

// One plane wave: 127.5 + amplitude x sin(2 pi (d . axis) / wavelength).
struct Wave {
    double x, y, z;      // axis, unit length
    double wavelength;   // radians
    double amplitude;
};

Wave MakeWave(double lonDegrees, double latDegrees, double wavelengthDegrees, double amplitude)
{
    const double lon = lonDegrees * kPi / 180.0;
    const double lat = latDegrees * kPi / 180.0;
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat),
            wavelengthDegrees * kPi / 180.0, amplitude};
}

const std::vector<Wave> kChannels[3] = {
    {MakeWave(10, 20, 0.5, 30), MakeWave(100, -40, 1.5, 40), MakeWave(200, 70, 5.0, 50)},
    {MakeWave(50, 10, 0.7, 35), MakeWave(160, 50, 2.0, 40), MakeWave(300, -20, 4.0, 45)},
    {MakeWave(250, -60, 0.6, 30), MakeWave(20, 80, 1.0, 40), MakeWave(120, 0, 3.0, 50)},
};

double Channel(const std::vector<Wave>& waves, double x, double y, double z)
{
    double value = 127.5;
    for (const Wave& w : waves) {
        value += w.amplitude * std::sin(2.0 * kPi * (x * w.x + y * w.y + z * w.z) / w.wavelength);
    }
    return value;
}

Rgb SceneAt(double longitude, double latitude)
{
    const double x = std::cos(latitude) * std::cos(longitude);
    const double y = std::cos(latitude) * std::sin(longitude);
    const double z = std::sin(latitude);
    return {Channel(kChannels[0], x, y, z), Channel(kChannels[1], x, y, z), Channel(kChannels[2], x, y, z)};
}

std::uint8_t Byte(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

CImageBuffer MakePanorama(std::int32_t width, std::int32_t height)
{
    CImageBuffer pano;
    pano.Create(width, height);
    ForEachRowBand(height, width, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t row = first; row < end; ++row) {
            std::uint32_t* out = pano.Row32(row);
            const double latitude = kPi * row / (height - 1) - kPi / 2.0;
            for (std::int32_t column = 0; column < width; ++column) {
                const Rgb c = SceneAt(2.0 * kPi * column / (width - 1), latitude);
                out[column] = 0xFF000000u | Byte(c.r) << 16 | Byte(c.g) << 8 | Byte(c.b);
            }
        }
    });
    return pano;
}

struct View {
    std::int32_t dome;
    std::int32_t fov;
    double tilt;  // degrees
};

// The scene at a point of the dome (row and column in pixels, centres at
// whole numbers) looking with `pan`: the fisheye direction, tilted about X,
// read as longitude and latitude, and placed where the renderers place it
// (the longitude's column plus 0.75 of a turn plus the pan's shift).
Rgb TruthAt(const View& v, double pan, double row, double column)
{
    const double c = (v.dome - 1) / 2.0;
    const double x = column - c;
    const double y = row - c;
    const double r = std::hypot(x, y);
    const double theta = v.fov * kPi * r / (c * 360.0);
    const double s = r > 0.0 ? std::sin(theta) / r : 0.0;
    const double X = s * x;
    const double Y = s * y;
    const double Z = std::cos(theta);
    const double phi = v.tilt * kPi / 180.0;
    const double tiltedY = Y * std::cos(phi) - Z * std::sin(phi);
    const double tiltedZ = Z * std::cos(phi) + Y * std::sin(phi);
    const double longitude = std::atan2(tiltedZ, X);
    const double latitude = std::atan2(tiltedY, std::hypot(X, tiltedZ));
    const double turns = (kPi - longitude) / (2.0 * kPi) + 0.75 + (pan + 180.0) / 360.0;
    return SceneAt(2.0 * kPi * turns, latitude);
}

// The truth of every dome pixel, 8 x 8 points each, as 3 doubles a pixel.
std::vector<double> Truth(const View& v, double pan)
{
    constexpr int kSub = 8;
    std::vector<double> truth(static_cast<std::size_t>(v.dome) * v.dome * 3);
    ForEachRowBand(v.dome, std::int64_t{v.dome} * kSub * kSub, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            for (std::int32_t j = 0; j < v.dome; ++j) {
                Rgb sum{0, 0, 0};
                for (int a = 0; a < kSub; ++a) {
                    for (int b = 0; b < kSub; ++b) {
                        const Rgb p = TruthAt(v, pan, i + (a + 0.5) / kSub - 0.5, j + (b + 0.5) / kSub - 0.5);
                        sum = {sum.r + p.r, sum.g + p.g, sum.b + p.b};
                    }
                }
                double* out = &truth[(static_cast<std::size_t>(i) * v.dome + j) * 3];
                out[0] = sum.r / (kSub * kSub);
                out[1] = sum.g / (kSub * kSub);
                out[2] = sum.b / (kSub * kSub);
            }
        }
    });
    return truth;
}

// PSNR over the pixels inside the circle (opaque ones), all three channels.
double Psnr(const CImageBuffer& dome, const std::vector<double>& truth)
{
    double squares = 0.0;
    std::int64_t samples = 0;
    for (std::int32_t i = 0; i < dome.GetHeight(); ++i) {
        const std::uint32_t* row = dome.Row32(i);
        for (std::int32_t j = 0; j < dome.GetWidth(); ++j) {
            if ((row[j] >> 24) == 0) {
                continue;
            }
            const double* t = &truth[(static_cast<std::size_t>(i) * dome.GetWidth() + j) * 3];
            const double got[3] = {static_cast<double>(row[j] >> 16 & 255), static_cast<double>(row[j] >> 8 & 255),
                                   static_cast<double>(row[j] & 255)};
            for (int ch = 0; ch < 3; ++ch) {
                squares += (got[ch] - t[ch]) * (got[ch] - t[ch]);
            }
            samples += 3;
        }
    }
    return 10.0 * std::log10(255.0 * 255.0 / (squares / static_cast<double>(samples)));
}

int Main(int argc, char** argv)
{
    const std::int32_t width = argc > 1 ? std::atoi(argv[1]) : 4096;
    const View view{argc > 2 ? std::atoi(argv[2]) : 1024, argc > 4 ? std::atoi(argv[4]) : 180,
                    argc > 3 ? std::atof(argv[3]) : 30.0};
    if (width < 4 || view.dome < 2 || view.dome > kMaxPanoDomeSize) {
        std::fprintf(stderr, "usage: bench_pano_quality [PANO_WIDTH [DOME [TILT [FOV]]]]\n");
        return 2;
    }
    const std::int32_t height = width / 2;
    const CImageBuffer pano = MakePanorama(width, height);
    CPanoDomeProjector projector;
    CImageBuffer working;
    if (!PrepareWorkingPanorama(pano, view.dome, working)) {
        std::fprintf(stderr, "no working panorama for a dome of %d\n", view.dome);
        return 1;
    }
    const auto tilt = static_cast<float>(view.tilt);
    const PanoMap map = projector.BuildPanoDomeMap(2 * view.dome, view.dome, view.dome, view.fov, tilt);
    const PanoMap sharpMap = projector.BuildPanoDomeSharpMap(width, height, view.dome, view.fov, tilt);
    std::printf("panorama %dx%d, dome %d, fov %d, tilt %.1f; PSNR in dB against the scene at 8x8 points a pixel\n",
                width, height, view.dome, view.fov, view.tilt);
    std::printf("%8s %8s %8s %8s\n", "pan", "still", "sweep", "sharp");
    for (const float pan : {-180.0f, -90.0f, 0.0f, 90.0f}) {
        const std::vector<double> truth = Truth(view, pan);
        const auto still = projector.RenderPanoDomeDirect(pano, view.dome, view.fov, tilt, pan);
        const auto frame = projector.RenderPanoDome(working, map.get(), view.dome, pan);
        const auto sharp = projector.RenderPanoDomeSharp(pano, sharpMap.get(), view.dome, pan);
        if (!still || !frame || !sharp) {
            std::fprintf(stderr, "a render failed at pan %.1f\n", pan);
            return 1;
        }
        std::printf("%8.1f %8.2f %8.2f %8.2f\n", pan, Psnr(*still, truth), Psnr(*frame, truth), Psnr(*sharp, truth));
    }
    return 0;
}

}  // namespace
}  // namespace skelvane::bench

int main(int argc, char** argv)
{
    return skelvane::bench::Main(argc, argv);
}
