#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "engine/image/ImageBuffer.h"
#include "engine/projection/PanoDomeProjector.h"
#include "pano2dome/Pano2DomeJob.h"
#include "support/Sha256.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

extern "C" {
#include <libavutil/pixdesc.h>
}


namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace pano2dome_text;
using namespace std::chrono_literals;
using test::ReadVideo;
using test::VideoFacts;

// ---------------------------------------------------------------- the sweep

std::vector<float> SweepAngles(int from, int to, unsigned duration, unsigned rate)
{
    CPanoSweep sweep(from, to, duration, rate);
    std::vector<float> angles;
    for (std::uint64_t i = 0; i < sweep.FrameCount(); ++i) {
        angles.push_back(sweep.Angle());
        sweep.Advance();
    }
    return angles;
}

TEST(PanoSweep, DefaultsGive125FramesInStepsOf288)
{
    const CPanoSweep sweep(-180, 180, 5, 25);
    EXPECT_EQ(sweep.FrameCount(), 125u);
    EXPECT_EQ(sweep.DegreesPerSecond(), 72u);
    EXPECT_EQ(sweep.Step(), 2.88f);
    const std::vector<float> angles = SweepAngles(-180, 180, 5, 25);
    ASSERT_EQ(angles.size(), 125u);
    EXPECT_EQ(angles[0], -180.0f);
    EXPECT_EQ(angles[1], -180.0f + 2.88f);
    EXPECT_NEAR(angles[2], -174.24f, 1e-4);
    EXPECT_NEAR(angles.back(), 177.12f, 1e-3) << "one step short of 180";
}

TEST(PanoSweep, DegreesPerSecondAreTruncatedBeforeTheStep)
{
    const CPanoSweep sweep(-180, 180, 7, 25);
    EXPECT_EQ(sweep.FrameCount(), 175u);
    EXPECT_EQ(sweep.DegreesPerSecond(), 51u) << "not 51.43";
    EXPECT_EQ(sweep.Step(), 2.04f);
    const std::vector<float> angles = SweepAngles(-180, 180, 7, 25);
    EXPECT_NEAR(angles.back(), 174.96f, 1e-3) << "rather than about 177.9";
}

TEST(PanoSweep, AngleIsAccumulatedInFloats)
{
    const std::vector<float> angles = SweepAngles(-180, 180, 7, 25);
    float accumulated = -180.0f;
    bool differsFromProduct = false;
    for (std::size_t i = 0; i < angles.size(); ++i) {
        ASSERT_EQ(angles[i], accumulated) << "frame " << i;
        differsFromProduct |= angles[i] != -180.0f + static_cast<float>(i) * 2.04f;
        accumulated = accumulated + 2.04f;
    }
    EXPECT_TRUE(differsFromProduct) << "the example must tell accumulation from from + i x s";
}

TEST(PanoSweep, APartOfTheSweepStartsAtTheAccumulatedAngle)
{
    const std::vector<float> angles = SweepAngles(-180, 180, 7, 25);
    bool differsFromProduct = false;
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(angles.size()); ++k) {
        CPanoSweep part(-180, 180, 7, 25);
        part.Advance();  // wherever it stood before
        part.AdvanceTo(k);
        ASSERT_EQ(part.Angle(), angles[static_cast<std::size_t>(k)]) << "frame " << k;
        differsFromProduct |= part.Angle() != -180.0f + static_cast<float>(k) * part.Step();
    }
    EXPECT_TRUE(differsFromProduct) << "the example must tell accumulation from from + k x s";
}

TEST(PanoSweep, EqualEndsGiveFramesAtOneAngle)
{
    const std::vector<float> angles = SweepAngles(30, 30, 2, 10);
    ASSERT_EQ(angles.size(), 20u);
    EXPECT_TRUE(std::all_of(angles.begin(), angles.end(), [](float a) { return a == 30.0f; }));
}

// ----------------------------------------------------- names, sizes, checks

TEST(PanoFrameNames, FourDigitsFromZeroWithoutPrefix)
{
    EXPECT_EQ(PanoFrameFileName(0, "jpg"), "0000.jpg");
    EXPECT_EQ(PanoFrameFileName(124, "png"), "0124.png");
    EXPECT_EQ(PanoFrameFileName(9999, "bmp"), "9999.bmp");
    EXPECT_EQ(PanoFrameFileName(10000, "tga"), "10000.tga");
    EXPECT_EQ(PanoFramePath("/out/", 1, "jpg"), "/out/0001.jpg");
    EXPECT_EQ(PanoFramePath("/out", 1, "jpg"), "/out/0001.jpg");
    EXPECT_EQ(PanoFramePath("/out///", 1, "jpg"), "/out/0001.jpg");
    EXPECT_EQ(PanoFramePath("/", 0, "jpg"), "/0000.jpg");
}

TEST(PanoOutputSize, FollowsHeightAndFieldOfView)
{
    EXPECT_EQ(PanoOutputSize(1024, 180), 1155);
    EXPECT_EQ(PanoOutputSize(1024, 90), 817);
    EXPECT_EQ(PanoOutputSize(1024, 360), 1634);
    EXPECT_EQ(PanoOutputSize(0, 180), 0);
}

TEST(WorkingPanorama, HalvingStopsWhenHeightOverSizeIsAtMostTwo)
{
    auto halved = [](std::int32_t w, std::int32_t h, std::int32_t n) {
        const PanoSize size = HalvedPanoramaSize(w, h, n);
        return std::pair{size.width, size.height};
    };
    EXPECT_EQ(halved(8000, 4000, 1000), std::pair(4000, 2000));
    EXPECT_EQ(halved(4001, 2001, 1000), std::pair(4001, 2001));
    EXPECT_EQ(halved(8001, 4001, 1000), std::pair(4001, 2001)) << "odd sides round up";
    EXPECT_EQ(halved(16000, 8000, 1000), std::pair(4000, 2000));
    EXPECT_EQ(halved(500, 250, 1000), std::pair(500, 250)) << "small panoramas are only resampled";
}

// The working panorama is the halved panorama resampled once, pixel for
// pixel what StretchFrom gives for each step.
TEST(WorkingPanorama, IsTheHalvedPanoramaResampledTo2NByN)
{
    struct Case {
        std::int32_t width, height, n;
        int halvings;
    };
    for (const Case c : {Case{80, 40, 10, 1}, Case{41, 21, 10, 0}, Case{100, 30, 10, 1}, Case{163, 81, 10, 2}}) {
        const CImageBuffer pano = test::MakePatternImage(c.width, c.height, 3);
        CImageBuffer expected;
        expected.CopyFrom(pano);
        for (int k = 0; k < c.halvings; ++k) {
            CImageBuffer half;
            half.Create((expected.GetWidth() + 1) / 2, (expected.GetHeight() + 1) / 2);
            half.StretchFrom(0, 0, half.GetWidth(), half.GetHeight(), expected, 0, 0, expected.GetWidth(),
                             expected.GetHeight());
            expected = std::move(half);
        }
        const PanoSize halved = HalvedPanoramaSize(c.width, c.height, c.n);
        EXPECT_EQ(halved.width, expected.GetWidth());
        EXPECT_EQ(halved.height, expected.GetHeight());
        CImageBuffer final;
        final.Create(2 * c.n, c.n);
        final.StretchFrom(0, 0, 2 * c.n, c.n, expected, 0, 0, expected.GetWidth(), expected.GetHeight());

        CImageBuffer working;
        ASSERT_TRUE(PrepareWorkingPanorama(pano, c.n, working));
        EXPECT_EQ(working.GetWidth(), 2 * c.n);
        EXPECT_EQ(working.GetHeight(), c.n);
        EXPECT_EQ(test::PixelsOf(working), test::PixelsOf(final)) << c.width << " x " << c.height;
    }
    CImageBuffer working;
    EXPECT_FALSE(PrepareWorkingPanorama(CImageBuffer(), 10, working));
    EXPECT_FALSE(PrepareWorkingPanorama(test::MakePatternImage(8, 4), 0, working));
    EXPECT_TRUE(working.IsEmpty());
}

std::shared_ptr<const CImageBuffer> Panorama(std::int32_t width = 64, std::int32_t height = 32)
{
    return std::make_shared<CImageBuffer>(test::MakePatternImage(width, height, 1));
}

CPano2DomeJob SweepJob(int mode, const fs::path& target)
{
    CPano2DomeJob job;
    job.mode = mode;
    job.panorama = Panorama();
    job.outputWidth = 16;
    job.duration = 1;
    job.frameRate = 5;
    job.frameFormat = "bmp";
    (mode == kPanoFrames ? job.frameDir : mode == kPanoVideo ? job.videoPath : job.imagePath) = target.string();
    return job;
}

TEST(Pano2DomeCheck, BeginRefusesWithThePagesMessages)
{
    struct Case {
        const char* what;
        std::function<void(CPano2DomeJob&)> change;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no panorama", [](CPano2DomeJob& j) { j.panorama.reset(); }, kNoInputImage},
        {"empty panorama", [](CPano2DomeJob& j) { j.panorama = std::make_shared<CImageBuffer>(); }, kNoInputImage},
        {"width 0", [](CPano2DomeJob& j) { j.outputWidth = 0; }, kCheckWidth},
        {"negative width", [](CPano2DomeJob& j) { j.outputWidth = -4; }, kCheckWidth},
        {"width 1", [](CPano2DomeJob& j) { j.outputWidth = 1; }, kCheckWidth},
        {"working panorama over the limit", [](CPano2DomeJob& j) { j.outputWidth = 16386; }, kWidthTooBig},
        {"dome over the limit",
         [](CPano2DomeJob& j) {
             j.mode = kPanoImage;
             j.imagePath = "/tmp/x.bmp";
             j.outputWidth = 32769;
         },
         kWidthTooBig},
        {"empty frame folder", [](CPano2DomeJob& j) { j.frameDir.clear(); }, kEmptyPath},
        {"path of another mode only",
         [](CPano2DomeJob& j) {
             j.mode = kPanoVideo;
             j.videoPath.clear();
         },
         kEmptyPath},
        {"odd video width",
         [](CPano2DomeJob& j) {
             j.mode = kPanoVideo;
             j.videoPath = "/tmp/v.avi";
             j.outputWidth = 1001;
         },
         kOddWidth},
        {"from after to",
         [](CPano2DomeJob& j) {
             j.fromAngle = 10;
             j.toAngle = 9;
         },
         kAngleRange},
        {"from after to in image mode",
         [](CPano2DomeJob& j) {
             j.mode = kPanoImage;
             j.imagePath = "/tmp/x.bmp";
             j.fromAngle = 10;
             j.toAngle = -10;
         },
         kAngleRange},
        {"tilt not a number", [](CPano2DomeJob& j) { j.verticalAngle = std::nanf(""); }, kViewAngles},
        {"pan not a number in image mode",
         [](CPano2DomeJob& j) {
             j.mode = kPanoImage;
             j.imagePath = "/tmp/x.bmp";
             j.horizontalAngle = -std::nanf("");
         },
         kViewAngles},
        {"infinite tilt", [](CPano2DomeJob& j) { j.verticalAngle = -INFINITY; }, kViewAngles},
        {"image name without a format that can be written",
         [](CPano2DomeJob& j) {
             j.mode = kPanoImage;
             j.imagePath = "/tmp/x.gif";
         },
         kImageFormat},
        {"unknown frame format", [](CPano2DomeJob& j) { j.frameFormat = "gif"; }, kFrameFormat},
        {"duration 0", [](CPano2DomeJob& j) { j.duration = 0; }, kCheckDuration},
        {"frame rate 0", [](CPano2DomeJob& j) { j.frameRate = 0; }, kCheckFrameRate},
        {"over a million frames",
         [](CPano2DomeJob& j) {
             j.duration = 40001;
             j.frameRate = 25;
         },
         kTooManyFrames},
        {"a product that wraps 32 bits",
         [](CPano2DomeJob& j) {
             j.duration = 65536;
             j.frameRate = 65536;
         },
         kTooManyFrames},
    };
    for (const Case& c : cases) {
        CPano2DomeJob job = SweepJob(kPanoFrames, "/tmp/frames");
        c.change(job);
        const std::optional<std::string> message = CheckPano2DomeJob(job);
        ASSERT_TRUE(message.has_value()) << c.what;
        EXPECT_EQ(*message, c.message) << c.what;
    }

    CPano2DomeJob accepted = SweepJob(kPanoFrames, "/tmp/frames");
    accepted.outputWidth = 1001;  // odd is fine for frames
    accepted.fromAngle = accepted.toAngle = 0;
    accepted.duration = 40000;  // exactly a million frames
    accepted.frameRate = 25;
    EXPECT_FALSE(CheckPano2DomeJob(accepted).has_value());
    EXPECT_EQ(PanoProgressRange(accepted), 1'000'000) << "no 16-bit wrap";
    CPano2DomeJob image = SweepJob(kPanoImage, "/tmp/x.bmp");
    image.duration = 0;  // duration and rate do not matter for one image
    image.frameRate = 0;
    EXPECT_FALSE(CheckPano2DomeJob(image).has_value());
    EXPECT_EQ(PanoProgressRange(image), 0);
}

// ------------------------------------------------------------ running jobs

// Everything a job tells its owner, in the order it arrives.
class Recorder final : public CJobObserver, public CPanoProgressBar, public CMessageReporter {
public:
    void OnProgress(std::int64_t position) override
    {
        Add("p" + std::to_string(position));
        if (onProgress) {
            onProgress(position);
        }
    }
    void OnSkipped(std::int64_t position) override { Add("s" + std::to_string(position)); }
    void OnFinished() override { Add("finished"); }
    void OnStopped() override { Add("stopped"); }
    void OnFailed(const std::string& why) override
    {
        Add("failed");
        std::lock_guard lock(m_mutex);
        reason = why;
    }
    void SetRange(std::int64_t steps) override
    {
        Add("range " + std::to_string(steps));
        if (onRange) {
            onRange();
        }
    }
    void Reset() override { Add("reset"); }
    void ShowMessage(const std::string& text) override { Add("message " + text); }

    std::vector<std::string> Events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::size_t ProgressCount()
    {
        const std::vector<std::string> events = Events();
        return static_cast<std::size_t>(
            std::count_if(events.begin(), events.end(), [](const std::string& e) { return e[0] == 'p'; }));
    }

    std::function<void(std::int64_t)> onProgress;
    std::function<void()> onRange;
    std::string reason;

private:
    void Add(std::string event)
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_events;
};

// range, p0 .. p(count-1), reset, then the end call.
std::vector<std::string> SweepEvents(std::int64_t range, std::int64_t count, const char* end)
{
    std::vector<std::string> events = {"range " + std::to_string(range)};
    for (std::int64_t k = 0; k < count; ++k) {
        events.push_back("p" + std::to_string(k));
    }
    events.push_back("reset");
    events.push_back(end);
    return events;
}

std::vector<std::string> FilesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> FrameNames(int count, const char* format)
{
    std::vector<std::string> names;
    for (int k = 0; k < count; ++k) {
        names.push_back(PanoFrameFileName(k, format));
    }
    return names;
}

std::vector<std::uint32_t> Rgb(std::vector<std::uint32_t> pixels)
{
    for (std::uint32_t& p : pixels) {
        p &= 0x00FFFFFFu;
    }
    return pixels;
}

class Pano2DomeJobTest : public ::testing::Test {
protected:
    void Start(const CPano2DomeJob& job) { ASSERT_TRUE(BeginPano2DomeJob(m_control, job, m_rec, m_rec, &m_rec)); }
    void Finish()
    {
        ASSERT_TRUE(m_control.WaitForEnd(120s));
        m_control.Join();
    }
    void Run(const CPano2DomeJob& job)
    {
        Start(job);
        Finish();
    }

    test::TempDir m_dir;
    CJobControl m_control{CJobControl::Options{2, false}};
    Recorder m_rec;
};

TEST_F(Pano2DomeJobTest, FramesAreTheSweepRenderedFromTheWorkingPanorama)
{
    // 360 degrees over 7 seconds at 2 frames a second: 51 degrees a second,
    // a step of 25.5 and 14 frames, the last at 151.5 rather than 180.
    const fs::path folder = m_dir / "frames";
    fs::create_directories(folder);
    test::WriteFileBytes(folder / "0003.bmp", {1, 2, 3});  // replaced
    CPano2DomeJob job = SweepJob(kPanoFrames, folder.string() + "/");
    job.duration = 7;
    job.frameRate = 2;
    job.verticalAngle = 45.0f;
    Run(job);
    EXPECT_EQ(m_rec.Events(), SweepEvents(14, 14, "finished"));
    ASSERT_EQ(FilesIn(folder), FrameNames(14, "bmp")) << "no temporary file is left";

    CImageBuffer working;
    ASSERT_TRUE(PrepareWorkingPanorama(*job.panorama, 16, working));
    CPanoDomeProjector projector;
    const PanoMap map = projector.BuildPanoDomeMap(32, 16, 16, 180, 45.0f);
    CPanoSweep sweep(-180, 180, 7, 2);
    for (int k = 0; k < 14; ++k, sweep.Advance()) {
        const std::unique_ptr<CImageBuffer> expected = projector.RenderPanoDome(working, map.get(), 16, sweep.Angle());
        CImageBuffer frame;
        ASSERT_TRUE(frame.Load(folder / PanoFrameFileName(k, "bmp")));
        EXPECT_EQ(Rgb(test::PixelsOf(frame)), Rgb(test::PixelsOf(*expected))) << "frame " << k;
    }
    EXPECT_EQ(sweep.Angle() - sweep.Step(), 151.5f);
}

// The pixels of a sweep without --sharp, pinned: the working panorama, its
// map and the frame render together, for an odd and an even dome from a
// panorama halved twice. A sharp path beside them must leave these alone.
TEST_F(Pano2DomeJobTest, TheDefaultSweepKeepsItsPixels)
{
    const struct {
        int n;
        const char* digest;
    } cases[] = {{21, "771112248471758e8fe2674b697cee6d48820c034a142fbee791f64b04865eb6"},
                 {22, "00cc4532fa160b211d12bf885b76ce3e94daa52654db8d8592cfcc3ac15a0110"}};
    for (const auto& c : cases) {
        const fs::path folder = m_dir / std::to_string(c.n);
        fs::create_directories(folder);
        CPano2DomeJob job = SweepJob(kPanoFrames, folder);
        job.panorama = Panorama(301, 151);
        job.outputWidth = c.n;
        job.fov = 200;
        job.verticalAngle = 30.0f;
        job.fromAngle = -170;
        job.toAngle = 180;
        job.duration = 2;
        job.frameRate = 3;  // 175 degrees a second: every frame wraps some columns
        Run(job);
        ASSERT_EQ(FilesIn(folder), FrameNames(6, "bmp"));
        std::vector<std::uint8_t> pixels;
        for (int k = 0; k < 6; ++k) {
            CImageBuffer frame;
            ASSERT_TRUE(frame.Load(folder / PanoFrameFileName(k, "bmp")));
            for (const std::uint32_t p : Rgb(test::PixelsOf(frame))) {
                for (int shift = 0; shift < 24; shift += 8) {
                    pixels.push_back(static_cast<std::uint8_t>(p >> shift));
                }
            }
        }
        EXPECT_EQ(test::Sha256Hex(pixels), c.digest) << "n " << c.n;
    }
}

TEST_F(Pano2DomeJobTest, ShardsInAnyOrderAndOverlapWriteTheFilesOfTheWholeSweep)
{
    // 175 frames; each shard is a job of its own, as farm tasks are.
    CPano2DomeJob job = SweepJob(kPanoFrames, m_dir / "whole");
    job.duration = 7;
    job.frameRate = 25;
    job.frameFormat = "png";
    fs::create_directories(m_dir / "whole");
    Run(job);
    ASSERT_EQ(FilesIn(m_dir / "whole"), FrameNames(175, "png"));

    job.frameDir = (m_dir / "shards").string();
    job.skipExisting = true;
    fs::create_directories(m_dir / "shards");
    const std::pair<std::int64_t, std::int64_t> shards[] = {{100, 174}, {0, 49}, {40, 120}, {7, 7}};
    for (const auto& [first, last] : shards) {
        job.firstFrame = first;
        job.lastFrame = last;
        CJobControl control(CJobControl::Options{2, false});
        Recorder recorder;
        ASSERT_TRUE(BeginPano2DomeJob(control, job, recorder, recorder, &recorder));
        ASSERT_TRUE(control.WaitForEnd(120s));
        control.Join();
        EXPECT_EQ(recorder.Events().back(), "finished") << recorder.reason;
        EXPECT_EQ(recorder.ProgressCount(), static_cast<std::size_t>(last - first + 1));
    }
    ASSERT_EQ(FilesIn(m_dir / "shards"), FrameNames(175, "png"));
    for (const std::string& name : FrameNames(175, "png")) {
        EXPECT_EQ(test::ReadFileBytes(m_dir / "shards" / name), test::ReadFileBytes(m_dir / "whole" / name)) << name;
    }
}

// A sharp sweep's frames are image mode's domes at the frames' pans, file for
// file, for odd and even sizes, fields of view and tilts; every pan wraps
// some columns, the later ones twice. A shard writes the whole sweep's files.
TEST_F(Pano2DomeJobTest, SharpFramesAreTheStillImagesOfTheirPans)
{
    struct Case {
        int n;
        unsigned fov;
        float tilt;
        int from, to;
        unsigned rate;  // frames of the one-second sweep
    };
    for (const Case c : {Case{33, 180, 60.0f, -180, 180, 5}, Case{32, 220, -30.0f, -90, 180, 4},
                         Case{21, 90, 90.0f, 150, 180, 3}}) {
        SCOPED_TRACE("n " + std::to_string(c.n));
        const fs::path folder = m_dir / ("sharp" + std::to_string(c.n));
        fs::create_directories(folder);
        CPano2DomeJob job = SweepJob(kPanoFrames, folder);
        job.panorama = Panorama(301, 151);  // far more than the 2N x N a working panorama has
        job.sharp = true;
        job.frameFormat = "png";
        job.outputWidth = c.n;
        job.fov = c.fov;
        job.verticalAngle = c.tilt;
        job.fromAngle = c.from;
        job.toAngle = c.to;
        job.frameRate = c.rate;
        Run(job);
        ASSERT_EQ(FilesIn(folder), FrameNames(static_cast<int>(c.rate), "png"));

        CPano2DomeJob still = job;
        still.mode = kPanoImage;
        still.imagePath = (m_dir / "still.png").string();
        CPanoSweep sweep(c.from, c.to, 1, c.rate);
        for (unsigned k = 0; k < c.rate; ++k, sweep.Advance()) {
            still.horizontalAngle = sweep.Angle();
            Run(still);
            EXPECT_EQ(test::ReadFileBytes(folder / PanoFrameFileName(k, "png")),
                      test::ReadFileBytes(still.imagePath))
                << "frame " << k << " at " << sweep.Angle();
        }
        EXPECT_EQ(m_rec.Events().back(), "finished") << m_rec.reason;

        job.frameDir = (m_dir / ("shard" + std::to_string(c.n))).string();
        fs::create_directories(job.frameDir);
        job.firstFrame = 1;
        job.lastFrame = 2;
        Run(job);
        ASSERT_EQ(FilesIn(job.frameDir), (std::vector<std::string>{"0001.png", "0002.png"}));
        for (const char* name : {"0001.png", "0002.png"}) {
            EXPECT_EQ(test::ReadFileBytes(fs::path(job.frameDir) / name), test::ReadFileBytes(folder / name)) << name;
        }
    }
}

// A sharp sweep renders neighbouring frames together, yet stops and pauses as
// any sweep does: stopped in the middle of a group, at its last frame or at
// the next group's first, it leaves exactly the frames it reported; paused
// after a group, it reports nothing until it continues. The ten frames make
// groups of four, four and a short two; every file written is the
// undisturbed sweep's.
TEST_F(Pano2DomeJobTest, ASharpSweepStopsAndPausesBetweenItsGroupsAsAnyOther)
{
    CPano2DomeJob job = SweepJob(kPanoFrames, m_dir / "whole");
    job.panorama = Panorama(301, 151);
    job.sharp = true;
    job.frameRate = 10;
    fs::create_directories(job.frameDir);
    Run(job);
    ASSERT_EQ(FilesIn(job.frameDir), FrameNames(10, "bmp")) << m_rec.reason;

    struct Case {
        std::int64_t at;  // the frame whose progress call stops or pauses the sweep
        bool pause;
    };
    for (const Case c : {Case{2, false}, Case{3, false}, Case{4, false}, Case{3, true}, Case{8, true}}) {
        SCOPED_TRACE((c.pause ? "paused at " : "stopped at ") + std::to_string(c.at));
        const fs::path folder = m_dir / ((c.pause ? "paused" : "stopped") + std::to_string(c.at));
        fs::create_directories(folder);
        CPano2DomeJob part = job;
        part.frameDir = folder.string();
        Recorder rec;
        std::atomic<bool> paused{false};
        rec.onProgress = [&](std::int64_t k) {
            if (k != c.at) {
                return;
            }
            if (c.pause) {
                m_control.Suspend();
                paused = true;
            } else {
                m_control.RequestStop();
            }
        };
        ASSERT_TRUE(BeginPano2DomeJob(m_control, part, rec, rec, &rec));
        if (c.pause) {
            while (!paused && !m_control.HasEnded()) {
                std::this_thread::sleep_for(1ms);
            }
            std::this_thread::sleep_for(100ms);
            EXPECT_EQ(rec.ProgressCount(), static_cast<std::size_t>(c.at + 1));
            m_control.Resume();
        }
        Finish();
        const std::int64_t written = c.pause ? 10 : c.at + 1;
        EXPECT_EQ(rec.Events(), SweepEvents(10, written, c.pause ? "finished" : "stopped"));
        ASSERT_EQ(FilesIn(folder), FrameNames(static_cast<int>(written), "bmp"));
        for (const std::string& name : FilesIn(folder)) {
            EXPECT_EQ(test::ReadFileBytes(folder / name), test::ReadFileBytes(fs::path(job.frameDir) / name)) << name;
        }
    }
}

// Without a working panorama a sharp sweep may be as large as an image.
// Supersampled sweeps, default and sharp: every frame is the supersampled
// render at its pan (from the working panorama, or from the full one as image
// mode reads it), alpha included; one sub-sample keeps the frames the sweep
// wrote before supersampling existed, and a shard writes the same files.
TEST_F(Pano2DomeJobTest, SupersampledSweepFramesAreTheSupersampledRendersOfTheirPans)
{
    constexpr int kSize = 17;
    constexpr unsigned kFrames = 4;
    const auto panorama = Panorama(301, 151);
    CImageBuffer working;
    ASSERT_TRUE(PrepareWorkingPanorama(*panorama, kSize, working));
    CPanoDomeProjector projector;
    const PanoMap map = projector.BuildPanoDomeMap(2 * kSize, kSize, kSize, 200, 30.0f);
    const PanoMap sharpMap = projector.BuildPanoDomeSharpMap(301, 151, kSize, 200, 30.0f);
    for (const bool sharp : {false, true}) {
        std::vector<std::vector<std::uint32_t>> oneSample;
        for (const int s : {1, 2, 3}) {
            SCOPED_TRACE(std::string(sharp ? "sharp" : "default") + " s " + std::to_string(s));
            const fs::path folder = m_dir / ((sharp ? "sharp" : "sweep") + std::to_string(s));
            fs::create_directories(folder);
            CPano2DomeJob job = SweepJob(kPanoFrames, folder);
            job.panorama = panorama;
            job.sharp = sharp;
            job.supersample = s;
            job.frameFormat = "png";
            job.outputWidth = kSize;
            job.fov = 200;
            job.verticalAngle = 30.0f;
            job.fromAngle = -170;
            job.toAngle = 180;
            job.frameRate = kFrames;
            Run(job);
            ASSERT_EQ(m_rec.Events().back(), "finished") << m_rec.reason;
            ASSERT_EQ(FilesIn(folder), FrameNames(kFrames, "png"));

            CPanoSweep sweep(-170, 180, 1, kFrames);
            for (unsigned k = 0; k < kFrames; ++k, sweep.Advance()) {
                const float pan = sweep.Angle();
                std::unique_ptr<CImageBuffer> expected;
                if (s > 1) {
                    expected = projector.RenderPanoDomeSupersampled(sharp ? *panorama : working, kSize, 200, 30.0f,
                                                                    pan, s, sharp ? PanoWrap::Still : PanoWrap::Sweep);
                } else {
                    expected = sharp ? projector.RenderPanoDomeSharp(*panorama, sharpMap.get(), kSize, pan)
                                     : projector.RenderPanoDome(working, map.get(), kSize, pan);
                }
                ASSERT_TRUE(expected);
                CImageBuffer frame;
                ASSERT_TRUE(frame.Load(folder / PanoFrameFileName(k, "png")));
                const std::vector<std::uint32_t> pixels = test::PixelsOf(frame);
                EXPECT_EQ(pixels, test::PixelsOf(*expected)) << "frame " << k << " at " << pan;
                if (s == 1) {
                    oneSample.push_back(pixels);
                } else {
                    EXPECT_NE(pixels, oneSample.at(k)) << "frame " << k << " shows no supersampling";
                }
            }

            if (s == 2) {
                job.frameDir = (m_dir / ((sharp ? "sharpshard" : "shard") + std::to_string(s))).string();
                fs::create_directories(job.frameDir);
                job.firstFrame = 2;
                job.lastFrame = 3;
                Run(job);
                ASSERT_EQ(FilesIn(job.frameDir), (std::vector<std::string>{"0002.png", "0003.png"}));
                for (const char* name : {"0002.png", "0003.png"}) {
                    EXPECT_EQ(test::ReadFileBytes(fs::path(job.frameDir) / name), test::ReadFileBytes(folder / name))
                        << name;
                }
            }
        }
    }
}

TEST(Pano2DomeCheck, ASharpSweepHasTheImageLimit)
{
    CPano2DomeJob job = SweepJob(kPanoFrames, "/tmp/frames");
    job.sharp = true;
    job.outputWidth = kMaxImageSide;
    EXPECT_FALSE(CheckPano2DomeJob(job).has_value());
    job.outputWidth = kMaxImageSide + 1;
    EXPECT_EQ(CheckPano2DomeJob(job), std::optional<std::string>(kWidthTooBig));
    job.sharp = false;
    job.outputWidth = kMaxImageSide / 2 + 1;
    EXPECT_EQ(CheckPano2DomeJob(job), std::optional<std::string>(kWidthTooBig));
}

TEST_F(Pano2DomeJobTest, SkipExistingLeavesWrittenFramesAloneAndSaysSo)
{
    const fs::path folder = m_dir / "frames";
    fs::create_directories(folder);
    test::WriteFileBytes(folder / "0001.bmp", {1, 2, 3});
    test::WriteFileBytes(folder / "0003.bmp", {4, 5, 6});
    CPano2DomeJob job = SweepJob(kPanoFrames, folder);
    job.skipExisting = true;
    job.firstFrame = 1;
    job.lastFrame = 3;
    Run(job);
    EXPECT_EQ(m_rec.Events(), (std::vector<std::string>{"range 3", "s0", "p0", "p1", "s2", "p2", "reset",
                                                        "finished"}));
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"0001.bmp", "0002.bmp", "0003.bmp"}));
    EXPECT_EQ(test::ReadFileBytes(folder / "0001.bmp"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(test::ReadFileBytes(folder / "0003.bmp"), (std::vector<std::uint8_t>{4, 5, 6}));
}

TEST_F(Pano2DomeJobTest, FramesInEveryFormat)
{
    for (const char* format : {"jpg", "png", "tga", "bmp"}) {
        const fs::path folder = m_dir / format;
        fs::create_directories(folder);
        CPano2DomeJob job = SweepJob(kPanoFrames, folder);
        job.frameFormat = format;
        Recorder rec;
        CJobControl control;
        ASSERT_TRUE(BeginPano2DomeJob(control, job, rec, rec, &rec));
        ASSERT_TRUE(control.WaitForEnd(120s));
        control.Join();
        EXPECT_EQ(rec.Events(), SweepEvents(5, 5, "finished")) << format;
        EXPECT_EQ(FilesIn(folder), FrameNames(5, format));
        CImageBuffer frame;
        ASSERT_TRUE(frame.Load(folder / PanoFrameFileName(4, format))) << format;
        EXPECT_EQ(frame.GetWidth(), 16);
    }
}

TEST_F(Pano2DomeJobTest, ImageModeRendersTheFullPanoramaDirectlyWithoutProgress)
{
    const fs::path path = m_dir / "dome.tga";
    CPano2DomeJob job = SweepJob(kPanoImage, path);
    job.panorama = Panorama(300, 150);  // never halved in image mode
    job.outputWidth = 21;
    job.horizontalAngle = 33.3f;
    job.verticalAngle = 10.0f;
    Run(job);
    EXPECT_EQ(m_rec.Events(), std::vector<std::string>{"finished"});
    CPanoDomeProjector projector;
    const std::unique_ptr<CImageBuffer> expected = projector.RenderPanoDomeDirect(*job.panorama, 21, 180, 10.0f, 33.3f);
    CImageBuffer dome;
    ASSERT_TRUE(dome.Load(path));
    EXPECT_EQ(Rgb(test::PixelsOf(dome)), Rgb(test::PixelsOf(*expected)));
}

TEST_F(Pano2DomeJobTest, StopBeforeTheFirstFrameWritesNoFrame)
{
    const fs::path folder = m_dir / "frames";
    fs::create_directories(folder);
    m_rec.onRange = [&] { m_control.RequestStop(); };
    Run(SweepJob(kPanoFrames, folder));
    EXPECT_EQ(m_rec.Events(), SweepEvents(5, 0, "stopped"));
    EXPECT_TRUE(FilesIn(folder).empty());
}

TEST_F(Pano2DomeJobTest, AFrameThatCannotBeWrittenFailsTheJobNamingIt)
{
    const fs::path folder = m_dir / "frames";
    fs::create_directories(folder / "0002.bmp");  // a folder where frame 2 goes
    CPano2DomeJob job = SweepJob(kPanoFrames, folder);
    Run(job);
    const std::vector<std::string> events = m_rec.Events();
    EXPECT_EQ(events, (std::vector<std::string>{"range 5", "p0", "p1", "reset", "failed"}));
    EXPECT_NE(m_rec.reason.find((folder / "0002.bmp").string()), std::string::npos) << m_rec.reason;
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"0000.bmp", "0001.bmp", "0002.bmp"}));
}

TEST_F(Pano2DomeJobTest, AMissingFolderFailsTheJobNamingTheFirstFrame)
{
    test::WriteFileBytes(m_dir / "plain", {1});
    CPano2DomeJob job = SweepJob(kPanoFrames, m_dir / "plain" / "frames");
    Run(job);
    EXPECT_EQ(m_rec.Events(), (std::vector<std::string>{"range 5", "reset", "failed"}));
    EXPECT_NE(m_rec.reason.find((m_dir / "plain" / "frames" / "0000.bmp").string()), std::string::npos)
        << m_rec.reason;

    Recorder image;
    CPano2DomeJob imageJob = SweepJob(kPanoImage, m_dir / "plain" / "x.png");
    ASSERT_TRUE(BeginPano2DomeJob(m_control, imageJob, image, image, &image));
    Finish();
    EXPECT_EQ(image.Events(), std::vector<std::string>{"failed"});
    EXPECT_NE(image.reason.find((m_dir / "plain" / "x.png").string()), std::string::npos) << image.reason;
}

TEST_F(Pano2DomeJobTest, ARefusedJobFailsWithItsMessage)
{
    CPano2DomeJob job = SweepJob(kPanoFrames, m_dir.Path());
    job.duration = 0;
    Run(job);
    EXPECT_EQ(m_rec.Events(), std::vector<std::string>{"failed"});
    EXPECT_EQ(m_rec.reason, kCheckDuration);

    Recorder unknown;
    CPano2DomeJob other = SweepJob(kPanoImage, m_dir / "x.bmp");
    other.mode = 3;
    ASSERT_TRUE(BeginPano2DomeJob(m_control, other, unknown, unknown, &unknown));
    Finish();
    EXPECT_EQ(unknown.Events(), std::vector<std::string>{"failed"}) << "doing nothing is no success";
    EXPECT_TRUE(FilesIn(m_dir.Path()).empty());
}

// ------------------------------------------------------------------- video

TEST_F(Pano2DomeJobTest, VideoReadsBackWithItsContainerSizeRateAndFrames)
{
    struct Case {
        const char* name;
        const char* container;
        int twoPass;
    };
    for (const Case c : {Case{"sweep.mov", "mov,mp4,m4a,3gp,3g2,mj2", 0}, Case{"sweep.avi", "avi", 0},
                         Case{"two.mov", "mov,mp4,m4a,3gp,3g2,mj2", 1}}) {
        const fs::path path = m_dir / c.name;
        CPano2DomeJob job = SweepJob(kPanoVideo, path);
        job.outputWidth = 32;
        job.frameRate = 12;
        job.video.twoPass = c.twoPass != 0;
        Recorder rec;
        ASSERT_TRUE(BeginPano2DomeJob(m_control, job, rec, rec, &rec));
        Finish();
        const int steps = c.twoPass ? 24 : 12;
        EXPECT_EQ(rec.Events(), SweepEvents(steps, steps, "finished")) << c.name << " " << rec.reason;
        const std::optional<VideoFacts> facts = ReadVideo(path);
        ASSERT_TRUE(facts) << c.name;
        EXPECT_EQ(facts->container, c.container);
        EXPECT_EQ(facts->codec, std::string("h264"));
        EXPECT_EQ(facts->width, 32);
        EXPECT_EQ(facts->height, 32);
        EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{12, 1}), 0)
            << c.name << " " << facts->frameRate.num << "/" << facts->frameRate.den;
        EXPECT_EQ(facts->frames, 12) << c.name;
    }
    EXPECT_EQ(FilesIn(m_dir.Path()), (std::vector<std::string>{"sweep.avi", "sweep.mov", "two.mov"}));
}

TEST_F(Pano2DomeJobTest, StoppedVideoIsClosedWithTheFramesWritten)
{
    const fs::path path = m_dir / "stopped.mov";
    CPano2DomeJob job = SweepJob(kPanoVideo, path);
    job.duration = 10;  // 50 frames
    m_rec.onProgress = [&](std::int64_t k) {
        if (k == 6) {
            m_control.RequestStop();
        }
    };
    Run(job);
    EXPECT_EQ(m_rec.Events(), SweepEvents(50, 7, "stopped"));
    const std::optional<VideoFacts> facts = ReadVideo(path);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->frames, 7);
    EXPECT_EQ(facts->width, 16);
}

// A lossless video of a sharp sweep holds the still images of its pans; a
// stop keeps the frames written so far, in frame and video modes alike.
TEST_F(Pano2DomeJobTest, SharpVideoHoldsTheStillImagesAndStopsAsAnyOther)
{
    const fs::path path = m_dir / "sharp.mkv";
    CPano2DomeJob job = SweepJob(kPanoVideo, path);
    job.panorama = Panorama(301, 151);
    job.sharp = true;
    job.outputWidth = 32;
    job.video.stream.codec = VideoCodec::Ffv1;
    Run(job);
    ASSERT_EQ(m_rec.Events(), SweepEvents(5, 5, "finished")) << m_rec.reason;
    CPanoDomeProjector projector;
    CPanoSweep sweep(-180, 180, 1, 5);
    int compared = 0;
    test::ReadVideo(path, [&](const AVFrame& frame) {
        const std::unique_ptr<CImageBuffer> still =
            projector.RenderPanoDomeDirect(*job.panorama, 32, 180, 60.0f, sweep.Angle());
        sweep.Advance();
        ++compared;
        std::vector<std::uint32_t> pixels;
        for (int y = 0; y < 32; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(frame.data[0] + y * frame.linesize[0]);
            pixels.insert(pixels.end(), row, row + 32);
        }
        EXPECT_EQ(Rgb(pixels), Rgb(test::PixelsOf(*still))) << "frame " << compared - 1;
    });
    EXPECT_EQ(compared, 5);

    for (const int mode : {kPanoVideo, kPanoFrames}) {
        Recorder rec;
        const fs::path target = m_dir / (mode == kPanoVideo ? "stopped.mkv" : "stopped");
        fs::create_directories(m_dir / "stopped");
        job = SweepJob(mode, target);
        job.sharp = true;
        job.video.stream.codec = VideoCodec::Ffv1;
        job.duration = 4;  // 20 frames
        rec.onProgress = [&](std::int64_t k) {
            if (k == 2) {
                m_control.RequestStop();
            }
        };
        ASSERT_TRUE(BeginPano2DomeJob(m_control, job, rec, rec, &rec));
        Finish();
        EXPECT_EQ(rec.Events(), SweepEvents(20, 3, "stopped")) << mode;
        if (mode == kPanoVideo) {
            const std::optional<VideoFacts> facts = ReadVideo(target);
            ASSERT_TRUE(facts);
            EXPECT_EQ(facts->frames, 3);
        } else {
            EXPECT_EQ(FilesIn(target), FrameNames(3, "bmp"));
        }
    }
}

TEST_F(Pano2DomeJobTest, StopInTheSecondPassKeepsAPlayableVideo)
{
    const fs::path path = m_dir / "stopped.avi";
    CPano2DomeJob job = SweepJob(kPanoVideo, path);
    job.video.twoPass = true;
    m_rec.onProgress = [&](std::int64_t k) {
        if (k == 7) {  // the third frame of the second pass
            m_control.RequestStop();
        }
    };
    Run(job);
    EXPECT_EQ(m_rec.Events(), SweepEvents(10, 8, "stopped"));
    const std::optional<VideoFacts> facts = ReadVideo(path);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->frames, 3);
}

TEST_F(Pano2DomeJobTest, AStopWhileTheFirstPassIsDrainedStillLeavesItsFrames)
{
    // Ending the first pass drains the encoder's look-ahead, which takes a
    // while at real sizes. A stop that lands there must not lose the frames
    // reported so far: the video holds the first pass, or the second pass's
    // first frame once that pass has begun. Wherever the stop lands, the
    // video matches what the job reported.
    const fs::path path = m_dir / "drained.mov";
    CPano2DomeJob job = SweepJob(kPanoVideo, path);
    job.panorama = Panorama(512, 256);
    job.outputWidth = 256;
    job.frameRate = 30;
    job.video.twoPass = true;
    job.video.keyFrameMode = 0;  // the encoder's long look-ahead
    std::thread stopper;
    m_rec.onProgress = [&](std::int64_t k) {
        if (k == 29) {  // the last frame of the first pass
            stopper = std::thread([&] {
                std::this_thread::sleep_for(20ms);
                m_control.RequestStop();
            });
        }
    };
    Run(job);
    stopper.join();
    const std::vector<std::string> events = m_rec.Events();
    ASSERT_EQ(events.back(), "stopped") << m_rec.reason;
    const auto reported = static_cast<int>(m_rec.ProgressCount());
    ASSERT_GE(reported, 30);
    const std::optional<VideoFacts> facts = ReadVideo(path);
    ASSERT_TRUE(facts) << "reported frames, but no video";
    EXPECT_EQ(facts->frames, reported == 30 ? 30 : reported - 30);
}

TEST_F(Pano2DomeJobTest, StopBeforeTheFirstFrameIsAStopAndLeavesNoVideo)
{
    const fs::path path = m_dir / "never.mov";
    CPano2DomeJob job = SweepJob(kPanoVideo, path);
    m_rec.onRange = [&] { m_control.RequestStop(); };
    Run(job);
    EXPECT_EQ(m_rec.Events(), SweepEvents(5, 0, "stopped"));
    EXPECT_TRUE(FilesIn(m_dir.Path()).empty());
}

TEST_F(Pano2DomeJobTest, AVideoThatCannotBeOpenedFailsNamingTheCause)
{
    test::WriteFileBytes(m_dir / "old.avi", {1, 2, 3});
    fs::create_directory(m_dir / "folder.mov");
    for (const fs::path& path : {m_dir / "folder.mov", m_dir / "missing" / "clip.avi"}) {
        Recorder rec;
        CPano2DomeJob job = SweepJob(kPanoVideo, path);
        ASSERT_TRUE(BeginPano2DomeJob(m_control, job, rec, rec, &rec));
        Finish();
        EXPECT_EQ(rec.Events(), std::vector<std::string>{"failed"});
        EXPECT_NE(rec.reason.find(path.string()), std::string::npos) << rec.reason;
    }
    EXPECT_EQ(FilesIn(m_dir.Path()), (std::vector<std::string>{"folder.mov", "old.avi"}));
    EXPECT_TRUE(fs::is_empty(m_dir / "folder.mov"));
}


// ------------------------------------------------------------- deep pixels

// A panorama whose channels rise left to right over `levels16` 16-bit levels
// from `base`, as 16-bit or float pixels.
std::shared_ptr<const CImageBuffer> DeepRamp(std::int32_t width, std::int32_t height, ChannelType type,
                                             double base, double levels16)
{
    auto ramp = std::make_shared<CImageBuffer>();
    ramp->Create(width, height, ChannelType::Float);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const auto v = static_cast<float>((base + levels16 * x / (width - 1)) / 65535.0);
            ramp->RowF(y)[x] = {v, v, v, 1.0f};
        }
    }
    EXPECT_TRUE(ConvertChannelType(*ramp, type));
    return ramp;
}

std::size_t DistinctGreens(const CImageBuffer& dome)
{
    std::set<std::uint16_t> greens;
    for (std::int32_t y = 0; y < dome.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < dome.GetWidth(); ++x) {
            greens.insert(dome.GetChannelType() == ChannelType::Uint16 ? dome.Row16(y)[x].green
                                                                       : RoundFloatTo16(dome.RowF(y)[x].green));
        }
    }
    return greens.size();
}

// Every mode renders a 16-bit panorama at 16 bits: a gradient over all 65536
// levels keeps thousands of them in the written dome, where a render through
// 8 bits keeps at most 256.
TEST_F(Pano2DomeJobTest, DeepPanoramasRenderAtTheirDepthInEveryMode)
{
    struct Case {
        const char* what;
        int mode;
        bool sharp;
        std::int32_t supersample;
    };
    for (const Case& c : {Case{"image", kPanoImage, false, 1}, Case{"sweep", kPanoFrames, false, 1},
                          Case{"sharp sweep", kPanoFrames, true, 1}, Case{"supersampled image", kPanoImage, false, 2},
                          Case{"supersampled sweep", kPanoFrames, false, 2}}) {
        SCOPED_TRACE(c.what);
        const fs::path target = m_dir / (std::string(c.what) + (c.mode == kPanoImage ? ".png" : ""));
        if (c.mode == kPanoFrames) {
            fs::create_directories(target);
        }
        CPano2DomeJob job = SweepJob(c.mode, target);
        job.panorama = DeepRamp(2048, 64, ChannelType::Uint16, 0.0, 65535.0);
        job.frameFormat = "png";
        job.outputWidth = 160;
        job.fov = 360;
        job.sharp = c.sharp;
        job.supersample = c.supersample;
        job.frameRate = 1;  // one frame
        Recorder rec;
        ASSERT_TRUE(BeginPano2DomeJob(m_control, job, rec, rec, &rec));
        Finish();
        ASSERT_EQ(rec.Events().back(), "finished") << rec.reason;
        CImageBuffer dome;
        ASSERT_TRUE(dome.Load(c.mode == kPanoImage ? target : target / PanoFrameFileName(0, "png")));
        ASSERT_EQ(dome.GetChannelType(), ChannelType::Uint16);
        EXPECT_GT(DistinctGreens(dome), 4096u);
    }
}

// OpenEXR in, OpenEXR out: light above white stays above white in the still
// image and in a sweep's frames.
TEST_F(Pano2DomeJobTest, LightAboveWhiteSurvivesFromExrToExr)
{
    CImageBuffer bright;
    bright.Create(256, 128, ChannelType::Float);
    for (std::int32_t y = 0; y < 128; ++y) {
        for (std::int32_t x = 0; x < 256; ++x) {
            const float v = 0.25f + 7.5f * static_cast<float>(127 - y) / 127.0f;  // up to 7.75 at the top
            bright.RowF(y)[x] = {v / 4, v / 2, v, 1.0f};
        }
    }
    ASSERT_TRUE(bright.Save(m_dir / "bright.exr"));
    auto loaded = std::make_shared<CImageBuffer>();
    ASSERT_TRUE(loaded->Load(m_dir / "bright.exr"));
    fs::create_directories(m_dir / "frames");
    for (const int mode : {kPanoImage, kPanoFrames}) {
        SCOPED_TRACE(mode);
        CPano2DomeJob job = SweepJob(mode, mode == kPanoImage ? m_dir / "dome.exr" : m_dir / "frames");
        job.panorama = loaded;
        job.frameFormat = "exr";
        job.outputWidth = 48;
        job.verticalAngle = 90.0f;  // looking up: the bright top rows
        job.frameRate = 1;
        Recorder rec;
        ASSERT_TRUE(BeginPano2DomeJob(m_control, job, rec, rec, &rec));
        Finish();
        ASSERT_EQ(rec.Events().back(), "finished") << rec.reason;
        CImageBuffer dome;
        ASSERT_TRUE(dome.Load(mode == kPanoImage ? m_dir / "dome.exr" : m_dir / "frames" / "0000.exr"));
        ASSERT_EQ(dome.GetChannelType(), ChannelType::Float);
        const PixelF centre = dome.RowF(24)[24];
        EXPECT_GT(centre.red, 7.0f);
        EXPECT_NEAR(centre.green, centre.red / 2, 0.01f);
        EXPECT_EQ(centre.alpha, 1.0f);
        EXPECT_EQ(dome.RowF(0)[0], (PixelF{0, 0, 0, 0})) << "outside the disc";
    }
}

// A float panorama's frames reach a 10-bit stream as 16-bit pixels: a ramp
// across a few 8-bit levels keeps several 10-bit steps between each, which
// frames rounded to 8 bits lose. An 8-bit stream takes the frames dithered.
TEST_F(Pano2DomeJobTest, FloatFramesReachATenBitStreamWithoutEightBitSteps)
{
    // Eight 8-bit levels round the panorama, about four of them in view.
    const auto ramp = DeepRamp(512, 256, ChannelType::Float, 30000.0, 8 * 257.0);
    auto narrowed = std::make_shared<CImageBuffer>();
    ASSERT_TRUE(CopyAtChannelType(*ramp, ChannelType::Uint8, Dither::None, *narrowed));
    auto lumas = [&](const std::shared_ptr<const CImageBuffer>& panorama, const VideoStream& stream,
                     const std::string& name) {
        CPano2DomeJob job = SweepJob(kPanoVideo, m_dir / name);
        job.panorama = panorama;
        job.outputWidth = 64;
        job.fov = 180;
        job.verticalAngle = 0.0f;  // the middle row: longitude in even steps
        job.fromAngle = job.toAngle = 0;  // the panorama's seam behind the view
        job.frameRate = 1;
        job.video.stream = stream;
        Recorder rec;
        EXPECT_TRUE(BeginPano2DomeJob(m_control, job, rec, rec, &rec));
        Finish();
        EXPECT_EQ(rec.Events().back(), "finished") << rec.reason;
        // The levels the middle row holds for two pixels or more: the steps
        // of the ramp, without the odd value the encoder rings with at a step.
        std::set<int> values;
        test::ReadVideo(m_dir / name, [&](const AVFrame& frame) {
            const int depth = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format))->comp[0].depth;
            auto luma = [&](int x) {
                const std::uint8_t* row = frame.data[0] + 32 * frame.linesize[0];
                return depth > 8 ? reinterpret_cast<const std::uint16_t*>(row)[x] : row[x];
            };
            for (int x = 8; x < 56; ++x) {
                if (luma(x) == luma(x - 1)) {
                    values.insert(luma(x));
                }
            }
        });
        return values.size();
    };
    // The levels of frames rounded to 8 bits, as ProRes keeps them (HEVC
    // Main 10 rings at each step, and 8-bit frames into it can fail to be
    // written at all, which is not what is tested here).
    const std::size_t shallow = lumas(narrowed, VideoStream{VideoCodec::ProRes}, "8-bit.mov");
    for (const VideoStream& stream : {VideoStream{VideoCodec::Hevc, VideoProfile::HevcMain10},
                                      VideoStream{VideoCodec::ProRes}}) {
        SCOPED_TRACE(StreamTitle(stream));
        const std::size_t deep = lumas(ramp, stream, std::string(CodecName(stream.codec)) + "-float.mov");
        EXPECT_GT(deep, 2 * shallow) << deep << " against " << shallow;
    }
    EXPECT_GE(lumas(ramp, VideoStream{VideoCodec::Hevc}, "main.mov"), 2u) << "8-bit streams take float frames too";
}

}  // namespace
}  // namespace skelvane
