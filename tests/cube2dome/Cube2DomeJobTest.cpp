#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "cube2dome/Cube2DomeJob.h"
#include "engine/projection/CubeDomeSampler.h"
#include "engine/projection/FaceGatherMap.h"
#include "imageio/ImageCodecRegistry.h"
#include "pano2dome/VideoEncoder.h"
#include "support/RecordingObserver.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace cube2dome_text;
using test::RecordingObserver;

constexpr std::int32_t kFace = 8;
constexpr std::int32_t kDome = 24;

std::uint32_t Seed(int face, int frame)
{
    return static_cast<std::uint32_t>(face * 100 + frame);
}

fs::path FaceFile(const fs::path& upper, int face, int frame, const std::string& format = "bmp")
{
    return upper / std::string(kFaceWords[face]) / ("f" + std::to_string(frame) + "." + format);
}

// A cube of `frames` frames of `faces` faces with a distinct pattern on each.
void MakeCube(const fs::path& upper, int faces, int frames, const std::string& format, std::int32_t size)
{
    for (int k = 0; k < faces; ++k) {
        fs::create_directories(upper / std::string(kFaceWords[k]));
        for (int n = 1; n <= frames; ++n) {
            CImageBuffer face = test::MakePatternImage(size, size, Seed(k, n));
            ASSERT_TRUE(face.Save(FaceFile(upper, k, n, format)));
        }
    }
}

class RecordingReporter : public CMessageReporter {
public:
    void ShowMessage(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        messages.push_back(text);
    }
    std::vector<std::string> messages;

private:
    std::mutex m_mutex;
};

std::vector<std::string> FilesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Cube2DomeJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_cube = m_dir / "cube";
        m_out = m_dir / "dome";
        fs::create_directories(m_out);
    }

    CCube2DomeJob Job(int frames, int faces = 6, const std::string& format = "bmp", std::int32_t size = kFace)
    {
        MakeCube(m_cube, faces, frames, format, size);
        Cube2DomeSettings settings;
        settings.faceCount = faces;
        settings.inputFormat = format;
        settings.upperDir = m_cube.string();
        settings.FillFromUpperDir();
        settings.SetOutputWidth(kDome);
        settings.saveDir = m_out.string() + "/";
        EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
        return MakeCube2DomeJob(settings, 180, 15.0f);
    }

    // Runs a job to its end; timings stay out of it (normal priority).
    void Run(const CCube2DomeJob& job, int threads = 0)
    {
        CJobControl control(CJobControl::Options{threads, false});
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, reporter));
        ASSERT_TRUE(control.WaitForEnd(60s));
        control.Join();
        EXPECT_EQ(observer.endCalls, 1);
    }

    // The dome that frame `frame` must give, rendered here from its faces.
    std::vector<std::uint32_t> ExpectedDome(const CCube2DomeJob& job, int frame)
    {
        CubeFaces faces;
        for (int k = 0; k < job.faceCount; ++k) {
            faces[k] = test::MakePatternImage(kFace, kFace, Seed(k, frame));
        }
        CCubeDomeProjector projector;
        FaceMap map = projector.BuildCubeDomeMap(kFace, job.outputSize, job.fov, job.verticalAngle,
                                                 job.horizontalAngle);
        return Rgb(test::PixelsOf(*projector.RenderCubeDome(faces, kFace, map.get(), job.outputSize)));
    }

    // The dome of frame `frame` from its face files decoded whole.
    std::vector<std::uint32_t> DomeOfWholeFaces(const CCube2DomeJob& job, int frame)
    {
        CubeFaces faces;
        for (int k = 0; k < job.faceCount; ++k) {
            EXPECT_TRUE(faces[k].Load(job.faceLists[k]->At(static_cast<std::size_t>(frame - 1))));
        }
        const std::int32_t size = faces[Left].GetWidth();
        CCubeDomeProjector projector;
        FaceMap map =
            projector.BuildCubeDomeMap(size, job.outputSize, job.fov, job.verticalAngle, job.horizontalAngle);
        return Rgb(test::PixelsOf(*projector.RenderCubeDome(faces, size, map.get(), job.outputSize)));
    }

    // Colours only: a 24-bit file keeps no alpha.
    static std::vector<std::uint32_t> Rgb(std::vector<std::uint32_t> pixels)
    {
        for (std::uint32_t& pixel : pixels) {
            pixel &= 0x00FFFFFFu;
        }
        return pixels;
    }

    std::vector<std::uint32_t> WrittenDome(const std::string& name, std::int32_t size = kDome)
    {
        CImageBuffer dome;
        EXPECT_TRUE(dome.Load(m_out / name)) << name;
        EXPECT_EQ(dome.GetWidth(), size);
        return Rgb(test::PixelsOf(dome));
    }

    test::TempDir m_dir;
    fs::path m_cube;
    fs::path m_out;
    RecordingObserver observer;
    RecordingReporter reporter;
};

TEST_F(Cube2DomeJobTest, WritesEveryFrameInOrderAndReportsEach)
{
    const CCube2DomeJob job = Job(3);
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Finished);
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_000.bmp", "FullDome_001.bmp", "FullDome_002.bmp"}));
    for (int frame = 1; frame <= 3; ++frame) {
        EXPECT_EQ(WrittenDome("FullDome_00" + std::to_string(frame - 1) + ".bmp"), ExpectedDome(job, frame))
            << "frame " << frame;
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(Cube2DomeJobTest, OverlappedFramesGiveTheFilesOfOneFrameAtATime)
{
    CCube2DomeJob job = Job(12);
    Run(job, 1);
    const fs::path sequential = m_dir / "sequential";
    fs::rename(m_out, sequential);
    fs::create_directories(m_out);
    observer.Reset();
    Run(job, 2);
    EXPECT_EQ(observer.progress.size(), 12u);
    EXPECT_TRUE(std::is_sorted(observer.progress.begin(), observer.progress.end()));
    ASSERT_EQ(FilesIn(m_out), FilesIn(sequential));
    for (const std::string& name : FilesIn(m_out)) {
        EXPECT_EQ(test::ReadFileBytes(m_out / name), test::ReadFileBytes(sequential / name)) << name;
    }
}

// JPEG domes are rendered a band at a time as the encoder takes their rows;
// each file is the one the whole dome gives, plain or filtered and
// supersampled, with one frame or several at once, on a dome of several bands
// and a last short one.
TEST_F(Cube2DomeJobTest, JpegDomesAreTheFilesOfTheirWholeDomes)
{
    CCube2DomeJob job = Job(3);
    job.outputFormat = "jpg";
    job.outputSize = 75;
    for (const CubeSampling sampling : {CubeSampling{}, CubeSampling{CubeFilter::Bilinear, 1},
                                        CubeSampling{CubeFilter::Bicubic, 2}}) {
        SCOPED_TRACE(std::string(CubeFilterName(sampling.filter)) + " s " + std::to_string(sampling.supersample));
        job.sampling = sampling;
        std::vector<std::vector<std::uint8_t>> expected;
        for (int frame = 1; frame <= 3; ++frame) {
            CubeFaces faces;
            for (int k = 0; k < job.faceCount; ++k) {
                faces[k] = test::MakePatternImage(kFace, kFace, Seed(k, frame));
            }
            std::unique_ptr<CImageBuffer> dome;
            if (sampling.IsPlain()) {
                CCubeDomeProjector projector;
                const FaceMap map = projector.BuildCubeDomeMap(kFace, job.outputSize, job.fov, job.verticalAngle,
                                                               job.horizontalAngle);
                dome = projector.RenderCubeDome(faces, kFace, map.get(), job.outputSize);
            } else {
                CCubeDomeSampler sampler;
                ASSERT_TRUE(sampler.Plan(kFace, job.outputSize, job.fov, job.verticalAngle, job.horizontalAngle,
                                         sampling));
                dome = sampler.Render(faces, reporter);
            }
            ASSERT_TRUE(dome);
            ASSERT_TRUE(EncodeImageFile(*dome, "dome.jpg", expected.emplace_back()));
        }
        for (const int threads : {1, 2}) {
            SCOPED_TRACE(testing::Message() << threads << " threads");
            fs::remove_all(m_out);
            fs::create_directories(m_out);
            observer.Reset();
            Run(job, threads);
            EXPECT_EQ(observer.end, JobEnd::Finished) << observer.reason;
            EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1, 2}));
            ASSERT_EQ(FilesIn(m_out),
                      (std::vector<std::string>{"FullDome_000.jpg", "FullDome_001.jpg", "FullDome_002.jpg"}));
            for (int frame = 1; frame <= 3; ++frame) {
                EXPECT_EQ(test::ReadFileBytes(m_out / ("FullDome_00" + std::to_string(frame - 1) + ".jpg")),
                          expected[static_cast<std::size_t>(frame - 1)])
                    << "frame " << frame;
            }
        }
    }
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(Cube2DomeJobTest, NeverReplacesAFileAndNumbersTheSecondSet)
{
    CCube2DomeJob job = Job(2);
    fs::create_directory(m_out / "FullDome_001.bmp");  // a folder in the way
    Run(job);
    observer.Reset();
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Finished);
    EXPECT_EQ(FilesIn(m_out),
              (std::vector<std::string>{"FullDome_000(001).bmp", "FullDome_000.bmp", "FullDome_001(001).bmp",
                                        "FullDome_001(002).bmp", "FullDome_001.bmp"}));
    EXPECT_TRUE(fs::is_directory(m_out / "FullDome_001.bmp"));
}

TEST_F(Cube2DomeJobTest, ShardsThatSkipExistingFramesWriteTheFilesOfOneRun)
{
    CCube2DomeJob job = Job(12);
    Run(job);
    const fs::path whole = m_dir / "whole";
    fs::rename(m_out, whole);
    fs::create_directories(m_out);

    // Out of order and overlapping, as retried farm tasks are.
    job.skipExisting = true;
    const std::pair<int, int> shards[] = {{7, 12}, {1, 4}, {3, 9}};
    for (const auto& [from, to] : shards) {
        job.fromFrame = from;
        job.toFrame = to;
        observer.Reset();
        Run(job, 2);
        EXPECT_EQ(observer.end, JobEnd::Finished) << observer.reason;
        EXPECT_EQ(observer.progress.size(), static_cast<std::size_t>(to - from + 1));
    }
    // The last shard found frames 3, 4, 7, 8 and 9 written.
    EXPECT_EQ(observer.skipped, (std::vector<std::int64_t>{0, 1, 4, 5, 6}));
    ASSERT_EQ(FilesIn(m_out), FilesIn(whole)) << "no numbered variants";
    for (const std::string& name : FilesIn(whole)) {
        EXPECT_EQ(test::ReadFileBytes(m_out / name), test::ReadFileBytes(whole / name)) << name;
    }
}

TEST_F(Cube2DomeJobTest, SkipExistingLeavesAFileWrittenMeanwhileAlone)
{
    CCube2DomeJob job = Job(6);
    job.skipExisting = true;
    // Another task writes frame 5 while this one is at its first frame.
    const std::vector<std::uint8_t> theirs = {'B', 'M', 1, 2};
    observer.onProgress = [&](std::int64_t position) {
        if (position == 0) {
            test::WriteFileBytes(m_out / "FullDome_004.bmp", theirs);
        }
    };
    Run(job, 2);
    EXPECT_EQ(observer.end, JobEnd::Finished) << observer.reason;
    EXPECT_EQ(observer.skipped, std::vector<std::int64_t>{4});
    EXPECT_EQ(test::ReadFileBytes(m_out / "FullDome_004.bmp"), theirs);
    EXPECT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_000.bmp", "FullDome_001.bmp", "FullDome_002.bmp",
                                                        "FullDome_003.bmp", "FullDome_004.bmp", "FullDome_005.bmp"}))
        << "no numbered variant and no staging file left";
}

TEST_F(Cube2DomeJobTest, SingleFrameWithFourDigitsAndFiveFaces)
{
    CCube2DomeJob job = Job(6, 5);  // no bottom folder at all
    job.fromFrame = job.toFrame = 5;
    job.serialDigits = 4;
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Finished);
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0}));
    EXPECT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_0004.bmp"}));
    EXPECT_EQ(WrittenDome("FullDome_0004.bmp"), ExpectedDome(job, 5));
}

TEST_F(Cube2DomeJobTest, StopBeforeTheFirstFrameWritesNothing)
{
    CCube2DomeJob job = Job(3);
    CJobControl control(CJobControl::Options{0, false});
    // Begin clears the suspend count, so a pause before it holds nothing:
    // the worker waits here until the stop is in.
    std::promise<void> stopped;
    std::shared_future<void> stopIn = stopped.get_future().share();
    ASSERT_TRUE(control.Begin(
        [&, stopIn](CJobContext& context) {
            stopIn.wait();
            return Cube2DomeRenderThread(job, context);
        },
        observer, reporter));
    EXPECT_EQ(control.Stop([] { return true; }), CJobControl::StopResult::Stopping);
    stopped.set_value();
    ASSERT_TRUE(control.WaitForEnd(60s));
    control.Join();
    EXPECT_EQ(observer.end, JobEnd::Stopped);
    EXPECT_TRUE(observer.progress.empty());
    EXPECT_TRUE(FilesIn(m_out).empty());
}

TEST_F(Cube2DomeJobTest, DestroyingTheControlWhileRunningStopsAndJoins)
{
    CCube2DomeJob job = Job(40);
    {
        CJobControl control(CJobControl::Options{0, false});
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, reporter));
        ASSERT_TRUE(observer.WaitForProgressCount(1));
    }
    EXPECT_EQ(observer.endCalls, 1);
    EXPECT_EQ(observer.end, JobEnd::Stopped);
    const std::vector<std::string> files = FilesIn(m_out);
    EXPECT_LT(files.size(), 40u);
    // Every file written is a whole frame, in sequence from the first.
    for (std::size_t n = 0; n < files.size(); ++n) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "FullDome_%03zu.bmp", n);
        EXPECT_EQ(files[n], expected);
    }
}

TEST_F(Cube2DomeJobTest, UnreadableFaceEndsTheJobNamingTheFile)
{
    CCube2DomeJob job = Job(4);
    test::WriteFileBytes(FaceFile(m_cube, Right, 3), {'B', 'M', 0, 1, 2});
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Failed);
    EXPECT_NE(observer.reason.find(FaceFile(m_cube, Right, 3).string()), std::string::npos) << observer.reason;
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_000.bmp", "FullDome_001.bmp"}));
}

TEST_F(Cube2DomeJobTest, FaceOfAnotherSizeEndsTheJobNamingTheFile)
{
    CCube2DomeJob job = Job(3);
    CImageBuffer wide = test::MakePatternImage(kFace * 2, kFace, 1);
    ASSERT_TRUE(wide.Save(FaceFile(m_cube, Top, 2)));
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Failed);
    EXPECT_NE(observer.reason.find(FaceFile(m_cube, Top, 2).string()), std::string::npos) << observer.reason;
    EXPECT_NE(observer.reason.find("16 x 8"), std::string::npos) << observer.reason;
    EXPECT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_000.bmp"}));
}

// JPEG faces whose side ends inside a block: after the first frame the job
// decodes only the part of each face its dome reads, and writes the domes
// that faces decoded whole give, for views that read every face and views
// that leave one out.
TEST_F(Cube2DomeJobTest, PartlyDecodedJpegFacesGiveTheDomesOfWholeFaces)
{
    CCube2DomeJob job = Job(3, 6, "jpg", 37);
    job.outputSize = 72;
    struct View {
        int fov;
        float tilt, pan;
    };
    for (const View& view : {View{180, 0.0f, 0.0f}, View{360, 0.0f, 0.0f}, View{180, 60.0f, 15.0f},
                             View{220, -35.0f, 100.0f}, View{90, 90.0f, 0.0f}}) {
        SCOPED_TRACE(testing::Message() << view.fov << " " << view.tilt << " " << view.pan);
        job.fov = view.fov;
        job.verticalAngle = view.tilt;
        job.horizontalAngle = view.pan;
        fs::remove_all(m_out);
        fs::create_directories(m_out);
        observer.Reset();
        Run(job);
        EXPECT_EQ(observer.end, JobEnd::Finished) << observer.reason;
        for (int frame = 1; frame <= 3; ++frame) {
            EXPECT_EQ(WrittenDome("FullDome_00" + std::to_string(frame - 1) + ".bmp", job.outputSize),
                      DomeOfWholeFaces(job, frame))
                << "frame " << frame;
        }
    }
}

// A face the dome never reads is still opened and its header read: when it
// cannot be read or has another size, the job fails as it would if it had
// decoded the face.
TEST_F(Cube2DomeJobTest, UnreadFaceThatIsBrokenOrOfAnotherSizeStillEndsTheJob)
{
    CCube2DomeJob job = Job(3, 6, "jpg", 37);
    job.fov = 180;
    job.verticalAngle = 0.0f;
    job.horizontalAngle = 0.0f;
    CFaceGatherMap gather;
    ASSERT_TRUE(gather.BuildFromView(37, job.outputSize, job.fov, job.verticalAngle, job.horizontalAngle));
    ASSERT_TRUE(gather.UsedRect(Back).IsEmpty()) << "the view must leave the back face unread";

    const fs::path clean = m_dir / "clean";
    fs::copy(m_cube, clean, fs::copy_options::recursive);
    const fs::path victim = FaceFile(m_cube, Back, 2, "jpg");
    auto unreadable = [&](const std::string& why) {
        return "Cannot read the face file " + victim.string() + ": " + why + ".";
    };
    std::vector<std::uint8_t> headerOnly = test::ReadFileBytes(victim);
    headerOnly.resize(20);
    struct Fault {
        const char* what;
        std::function<void()> apply;
        std::string reason;
    };
    const std::vector<Fault> faults = {
        {"not an image", [&] { test::WriteFileBytes(victim, {'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'}); },
         unreadable("not a JPEG file: starts with 0x6e 0x6f")},
        {"cut in its header", [&] { test::WriteFileBytes(victim, headerOnly); }, unreadable("cut short before its image data")},
        {"removed", [&] { fs::remove(victim); }, unreadable("there is no such file")},
        {"another size",
         [&] { ASSERT_TRUE(test::MakePatternImage(40, 37, 1).Save(victim)); },
         "The face file " + victim.string() + " is 40 x 37 pixels; the faces of this job are 37 x 37."},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        fs::remove_all(m_cube);
        fs::copy(clean, m_cube, fs::copy_options::recursive);
        fs::remove_all(m_out);
        fs::create_directories(m_out);
        fault.apply();
        observer.Reset();
        Run(job);
        EXPECT_EQ(observer.end, JobEnd::Failed);
        EXPECT_EQ(observer.reason, fault.reason);
        EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0}));
        EXPECT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_000.bmp"}));
    }
}

TEST_F(Cube2DomeJobTest, FaceSizeComesFromTheFirstFrameOfTheJob)
{
    CCube2DomeJob job = Job(2);
    // Frame 1 is outside the job; its faces may differ.
    for (int k = 0; k < kCubeFaceCount; ++k) {
        ASSERT_TRUE(test::MakePatternImage(64, 64, 3).Save(FaceFile(m_cube, k, 1)));
    }
    job.fromFrame = job.toFrame = 2;
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Finished);
    EXPECT_EQ(WrittenDome("FullDome_001.bmp"), ExpectedDome(job, 2));
}

TEST_F(Cube2DomeJobTest, UnwritableFolderEndsTheJobNamingThePath)
{
    CCube2DomeJob job = Job(2);
    test::WriteFileBytes(m_dir / "plain-file", {1});
    job.saveDir = (m_dir / "plain-file" / "sub").string();
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Failed);
    EXPECT_NE(observer.reason.find((m_dir / "plain-file" / "sub" / "FullDome_000.bmp").string()), std::string::npos)
        << observer.reason;
    EXPECT_TRUE(observer.progress.empty());
}

TEST_F(Cube2DomeJobTest, NoFaceMapIsReportedAsCalcPlaneFailed)
{
    CCube2DomeJob job = Job(2);
    for (int size : {0, kMaxImageSide + 1, kMaxDomeSize + 1}) {
        job.outputSize = size;
        observer.Reset();
        reporter.messages.clear();
        Run(job);
        EXPECT_EQ(observer.end, JobEnd::Failed);
        EXPECT_EQ(reporter.messages, std::vector<std::string>{kCalcPlaneFailed});
        EXPECT_TRUE(FilesIn(m_out).empty());
    }
}

TEST_F(Cube2DomeJobTest, ParametersTheAcceptanceChecksWouldRefuseFailTheJob)
{
    CCube2DomeJob job = Job(2);
    job.toFrame = 3;  // beyond the lists
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Failed);
    EXPECT_NE(observer.reason.find("left"), std::string::npos) << observer.reason;

    job.toFrame = 2;
    job.saveDir.clear();  // would otherwise write into the root folder
    observer.Reset();
    Run(job);
    EXPECT_EQ(observer.end, JobEnd::Failed);
    EXPECT_TRUE(FilesIn(m_out).empty());

    // Angles that are not numbers would render black domes as a success.
    for (const auto& [tilt, pan] : {std::pair{std::nanf(""), 0.0f}, std::pair{60.0f, INFINITY}}) {
        job = Job(2);
        job.verticalAngle = tilt;
        job.horizontalAngle = pan;
        observer.Reset();
        Run(job);
        EXPECT_EQ(observer.end, JobEnd::Failed);
        EXPECT_NE(observer.reason.find("The view angles must be numbers"), std::string::npos) << observer.reason;
        EXPECT_TRUE(FilesIn(m_out).empty());
    }
}

// Faces that vanish or break while the job runs: the job reads them only when
// their frame comes up, so it fails at that frame, naming the file, and the
// frames it wrote before stay complete.
TEST_F(Cube2DomeJobTest, FaceThatDisappearsOrBreaksMidSequenceEndsTheJobThere)
{
    CCube2DomeJob job = Job(4);
    const fs::path clean = m_dir / "clean";
    fs::copy(m_cube, clean, fs::copy_options::recursive);
    struct Fault {
        const char* what;
        std::function<void(const fs::path&)> apply;
    };
    const std::vector<Fault> faults = {
        {"removed", [](const fs::path& file) { fs::remove(file); }},
        {"cut short", [](const fs::path& file) { fs::resize_file(file, fs::file_size(file) / 2); }},
        {"replaced by a folder", [](const fs::path& file) { fs::remove(file), fs::create_directory(file); }},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        fs::remove_all(m_cube);
        fs::copy(clean, m_cube, fs::copy_options::recursive);
        fs::remove_all(m_out);
        fs::create_directories(m_out);
        observer.Reset();
        const fs::path victim = FaceFile(m_cube, Front, 3);
        // With one thread two frames are in flight: when frame 1 is reported,
        // frame 3 has not been started.
        observer.onProgress = [&](std::int64_t i) {
            if (i == 0) {
                fault.apply(victim);
            }
        };
        Run(job, 1);
        EXPECT_EQ(observer.end, JobEnd::Failed);
        EXPECT_NE(observer.reason.find(victim.string()), std::string::npos) << observer.reason;
        EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1}));
        ASSERT_EQ(FilesIn(m_out), (std::vector<std::string>{"FullDome_000.bmp", "FullDome_001.bmp"}));
        EXPECT_EQ(WrittenDome("FullDome_000.bmp"), ExpectedDome(job, 1));
        EXPECT_EQ(WrittenDome("FullDome_001.bmp"), ExpectedDome(job, 2));
    }
}

// The save folder goes away between two frames.
TEST_F(Cube2DomeJobTest, SaveFolderRemovedMidSequenceEndsTheJobNamingThePath)
{
    CCube2DomeJob job = Job(4);
    observer.onProgress = [&](std::int64_t i) {
        if (i == 1) {
            fs::rename(m_out, m_dir / "moved");
        }
    };
    Run(job, 1);
    EXPECT_EQ(observer.end, JobEnd::Failed);
    EXPECT_NE(observer.reason.find((m_out / "FullDome_002.bmp").string()), std::string::npos) << observer.reason;
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1}));
    EXPECT_FALSE(fs::exists(m_out));
    EXPECT_EQ(FilesIn(m_dir / "moved"), (std::vector<std::string>{"FullDome_000.bmp", "FullDome_001.bmp"}));
}

TEST_F(Cube2DomeJobTest, AVideoHoldsTheDomesTheImagesWouldBe)
{
    CVideoEncoder::QuietLibraryMessages();
    CCube2DomeJob job = Job(4);
    job.videoPath = (m_dir / "cube.mkv").string();
    job.video.stream = {VideoCodec::Ffv1};  // lossless: every pixel can be compared
    job.frameRate = {30000, 1001};
    EXPECT_EQ(CheckCube2DomeVideo(job), std::nullopt);
    Run(job);
    ASSERT_EQ(observer.end, JobEnd::Finished) << observer.reason;
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_TRUE(FilesIn(m_out).empty()) << "no numbered images beside the video";

    int frame = 0;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(job.videoPath, [&](const AVFrame& decoded) {
        ++frame;
        std::vector<std::uint32_t> pixels;
        for (int y = 0; y < kDome; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(decoded.data[0] + y * decoded.linesize[0]);
            pixels.insert(pixels.end(), row, row + kDome);
        }
        EXPECT_EQ(Rgb(pixels), ExpectedDome(job, frame)) << "frame " << frame;
    });
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->frames, 4);
    EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{30000, 1001}), 0);
}

TEST_F(Cube2DomeJobTest, AVideoTakesItsPassesStopsAndRefusals)
{
    CVideoEncoder::QuietLibraryMessages();
    CCube2DomeJob job = Job(4);
    job.videoPath = (m_dir / "two.mp4").string();
    job.video.twoPass = true;
    EXPECT_EQ(Cube2DomeProgressRange(job), 8);
    Run(job);
    ASSERT_EQ(observer.end, JobEnd::Finished) << observer.reason;
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(test::ReadVideo(job.videoPath)->frames, 4);

    observer.Reset();
    job.videoPath = (m_dir / "stopped.mov").string();
    job.video.twoPass = false;
    job.video.stream = {VideoCodec::ProRes};
    std::function<void()> stop;
    observer.onProgress = [&](std::int64_t position) {
        if (position == 1) stop();
    };
    {
        CJobControl control(CJobControl::Options{0, false});
        stop = [&] { control.RequestStop(); };
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, reporter));
        ASSERT_TRUE(control.WaitForEnd(60s));
    }
    observer.onProgress = nullptr;
    EXPECT_EQ(observer.end, JobEnd::Stopped);
    EXPECT_EQ(observer.progress, (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(test::ReadVideo(job.videoPath)->frames, 2);

    // A stream that cannot carry the domes fails the job before any frame.
    struct Case {
        VideoStream stream;
        const char* name;
        const char* says;
    };
    for (const Case& c : {Case{{VideoCodec::Hevc}, "small.mp4", "at least 64 x 64"},
                          Case{{VideoCodec::ProRes}, "prores.avi", "cannot carry ProRes"}}) {
        observer.Reset();
        job.video.stream = c.stream;
        job.videoPath = (m_dir / c.name).string();
        EXPECT_NE(CheckCube2DomeVideo(job).value_or("").find(c.says), std::string::npos) << c.name;
        Run(job);
        EXPECT_EQ(observer.end, JobEnd::Failed);
        EXPECT_NE(observer.reason.find(c.says), std::string::npos) << observer.reason;
        EXPECT_TRUE(observer.progress.empty());
        EXPECT_FALSE(fs::exists(job.videoPath));
    }
}

}  // namespace
}  // namespace skelvane
