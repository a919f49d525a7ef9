#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "cube2dome/Cube2DomeJob.h"
#include "cube2dome/Cube2DomeSettings.h"
#include "support/TempDir.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace cube2dome_text;

void Touch(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> Names(const FaceFrameListPtr& list)
{
    std::vector<std::string> names;
    for (const fs::path& frame : list->Frames()) {
        names.push_back(frame.filename().string());
    }
    return names;
}

// An upper folder with `frames` files in each of the first `faces` face folders.
void MakeUpperFolder(const fs::path& upper, int faces, int frames)
{
    for (int k = 0; k < faces; ++k) {
        for (int n = 1; n <= frames; ++n) {
            Touch(upper / std::string(kFaceWords[k]) / ("f" + std::to_string(n) + ".bmp"));
        }
    }
}

TEST(ListFaceFrames, NaturalOrderSkipsFoldersHiddenFilesAndOtherExtensions)
{
    test::TempDir dir;
    for (const char* name : {"frame10.bmp", "frame2.BMP", "frame1.bmp", "Frame3.bmp", ".hidden.bmp", "frame4.jpg",
                             "bmp", "frame02.bmp"}) {
        Touch(dir / name);
    }
    fs::create_directory(dir / "x.bmp");
    const FaceFrameListPtr list = ListFaceFrames(dir.Path(), "bmp");
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"frame1.bmp", "frame02.bmp", "frame2.BMP", "Frame3.bmp", "frame10.bmp"}));
    EXPECT_EQ(list->At(0), dir / "frame1.bmp");
    EXPECT_THROW(list->At(5), std::out_of_range);
}

TEST(ListFaceFrames, FolderWithTrailingSeparatorGivesPlainPaths)
{
    test::TempDir dir;
    Touch(dir / "a.bmp");
    const FaceFrameListPtr list = ListFaceFrames(dir.Path().string() + "/", "bmp");
    ASSERT_EQ(list->Count(), 1u);
    EXPECT_EQ(list->At(0).string(), (dir / "a.bmp").string());
}

TEST(ListFaceFrames, MissingFolderGivesAnEmptyList)
{
    test::TempDir dir;
    const FaceFrameListPtr list = ListFaceFrames(dir / "nowhere", "bmp");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Count(), 0u);
}

TEST(NaturalLess, DigitRunsByValueLettersWithoutCase)
{
    EXPECT_TRUE(NaturalLess("frame2", "frame10"));
    EXPECT_FALSE(NaturalLess("frame10", "frame2"));
    EXPECT_TRUE(NaturalLess("a", "B"));
    EXPECT_TRUE(NaturalLess("L00009", "L00010"));
    EXPECT_TRUE(NaturalLess("x9y", "x10a"));
    EXPECT_TRUE(NaturalLess("img", "img1"));
    // Equal by value: a total order all the same.
    EXPECT_NE(NaturalLess("f01", "f1"), NaturalLess("f1", "f01"));
    EXPECT_TRUE(NaturalLess("f99999999999999999999", "f100000000000000000000"));
}

TEST(Cube2DomeSettings, StartsWithTheDialogDefaults)
{
    const Cube2DomeSettings settings;
    EXPECT_EQ(settings.faceCount, 5);
    EXPECT_EQ(settings.inputFormat, "bmp");
    EXPECT_EQ(settings.outputPrefix, "FullDome_");
    EXPECT_EQ(settings.serialDigits, 3);
    EXPECT_EQ(settings.frameMode, FrameMode::All);
    EXPECT_EQ(settings.facePrefix[Bottom], "B");
    EXPECT_EQ(settings.faceSerialWidth[Top], 5);
    EXPECT_FLOAT_EQ(settings.verticalAngle, 60.0f);
    EXPECT_EQ(settings.selectedFace, -1);
}

TEST(Cube2DomeSettings, UpperFolderWithOrWithoutSeparatorGivesTheSameFaceFolders)
{
    test::TempDir dir;
    MakeUpperFolder(dir / "seq", 6, 4);
    Cube2DomeSettings plain;
    plain.upperDir = (dir / "seq").string();
    plain.FillFromUpperDir();
    Cube2DomeSettings withSeparator;
    withSeparator.upperDir = (dir / "seq").string() + "/";
    withSeparator.FillFromUpperDir();
    for (int k = 0; k < kCubeFaceCount; ++k) {
        EXPECT_EQ(plain.facePath[k], (dir / "seq" / std::string(kFaceWords[k])).string());
        EXPECT_EQ(withSeparator.facePath[k], plain.facePath[k]);
        ASSERT_TRUE(plain.faceList[k]);
        EXPECT_EQ(plain.faceList[k]->Frames(), withSeparator.faceList[k]->Frames());
    }
    EXPECT_EQ(plain.selectedFace, Left);
    EXPECT_EQ(plain.frameCount, 4);
    EXPECT_EQ(plain.fromFrame, 1u);
    EXPECT_EQ(plain.toFrame, 4u);
}

TEST(Cube2DomeSettings, FillFromUpperDirKeepsTheRangeOutsideAllAndDoesNothingWithoutAFolder)
{
    test::TempDir dir;
    MakeUpperFolder(dir.Path(), 5, 3);
    Cube2DomeSettings settings;
    settings.FillFromUpperDir();
    EXPECT_FALSE(settings.faceList[Left]);
    settings.frameMode = FrameMode::Range;
    settings.fromFrame = 2;
    settings.toFrame = 2;
    settings.upperDir = dir.Path().string();
    settings.FillFromUpperDir();
    EXPECT_EQ(settings.frameCount, 3);
    EXPECT_EQ(settings.fromFrame, 2u);
    EXPECT_EQ(settings.toFrame, 2u);
    // Choosing All takes the whole sequence; Single changes nothing.
    settings.ChooseFrameMode(FrameMode::Single);
    EXPECT_EQ(settings.toFrame, 2u);
    settings.ChooseFrameMode(FrameMode::All);
    EXPECT_EQ(settings.toFrame, 3u);
}

TEST(Cube2DomeSettings, RebuildingOneFaceReplacesOnlyItsList)
{
    test::TempDir dir;
    MakeUpperFolder(dir.Path(), 6, 2);
    Cube2DomeSettings settings;
    settings.upperDir = dir.Path().string();
    settings.FillFromUpperDir();
    const FaceFrameListPtr oldFront = settings.faceList[Front];
    const FaceFrameListPtr oldLeft = settings.faceList[Left];
    Touch(dir / "front" / "f3.bmp");
    settings.RebuildFace(Front);
    EXPECT_EQ(settings.faceList[Front]->Count(), 3u);
    EXPECT_EQ(oldFront->Count(), 2u) << "a list someone holds never changes";
    EXPECT_EQ(settings.faceList[Left], oldLeft);

    settings.ChooseFaceFolder(Back, (dir / "front").string());
    EXPECT_EQ(settings.selectedFace, Back);
    EXPECT_EQ(settings.frameCount, 3);
    EXPECT_EQ(settings.faceList[Back]->Count(), 3u);
}

TEST(Cube2DomeSettings, OutputIsSquareAndTwiceTheFaceWidth)
{
    Cube2DomeSettings settings;
    settings.ApplyFaceImageWidth(1024);
    EXPECT_EQ(settings.outputWidth, 2048u);
    EXPECT_EQ(settings.outputHeight, 2048u);
    settings.SetOutputWidth(999);
    EXPECT_EQ(settings.outputHeight, 999u);
    settings.ApplyFaceImageWidth(0);
    EXPECT_EQ(settings.outputWidth, 999u);
}

TEST(VerticalAngleSlider, MapsBothWays)
{
    EXPECT_EQ(VerticalAngleFromSlider(0), -90.0f);
    EXPECT_EQ(VerticalAngleFromSlider(900), 0.0f);
    EXPECT_EQ(VerticalAngleFromSlider(1800), 90.0f);
    EXPECT_EQ(VerticalAngleFromSlider(1500), static_cast<float>(600) * 0.1f);
    EXPECT_EQ(SliderFromVerticalAngle(45.0f), 1350);
    EXPECT_EQ(SliderFromVerticalAngle(-12.5f), 775);
    EXPECT_EQ(SliderFromVerticalAngle(-30.0f), 600);
    EXPECT_EQ(SliderFromVerticalAngle(12.34f), 1023);  // truncated toward zero
    EXPECT_EQ(SliderFromVerticalAngle(120.0f), 1800);
    EXPECT_EQ(SliderFromVerticalAngle(-180.0f), 0);
    EXPECT_EQ(SliderFromVerticalAngle(std::nanf("")), 0);
}

// Settings that pass every check: 5 faces of 10 frames, width and folder set.
class Acceptance : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeUpperFolder(m_dir.Path(), 5, 10);
        settings.upperDir = m_dir.Path().string();
        settings.FillFromUpperDir();
        settings.SetOutputWidth(512);
        settings.saveDir = (m_dir / "out").string();
    }
    const fs::path& Dir() const { return m_dir.Path(); }
    Cube2DomeSettings settings;

private:
    test::TempDir m_dir;
};

TEST_F(Acceptance, PassesWithFiveFacesAndNoBottomFolder)
{
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
    EXPECT_EQ(settings.fromFrame, 1u);
    EXPECT_EQ(settings.toFrame, 10u);
    settings.faceCount = 6;
    EXPECT_EQ(settings.ValidateSettings(), kInputNotSame);
}

TEST_F(Acceptance, NoListForAFaceInUseIsAWrongParameter)
{
    settings.faceList[Top].reset();
    EXPECT_EQ(settings.ValidateSettings(), kParameterWrong);
    Cube2DomeSettings fresh;
    EXPECT_EQ(fresh.ValidateSettings(), kParameterWrong);
}

TEST_F(Acceptance, EmptyLeftFaceIsNull)
{
    settings.ChooseFaceFolder(Left, (Dir() / "empty").string());
    EXPECT_EQ(settings.ValidateSettings(), kInputNull);
}

TEST_F(Acceptance, UnequalFrameCountsAreRefused)
{
    fs::remove(Dir() / "front" / "f10.bmp");
    settings.RebuildFace(Front);
    EXPECT_EQ(settings.ValidateSettings(), kInputNotSame);
}

TEST_F(Acceptance, WidthAndSaveFolderAreChecked)
{
    settings.SetOutputWidth(0);
    EXPECT_EQ(settings.ValidateSettings(), kWidthZero);
    settings.SetOutputWidth(32769);
    EXPECT_EQ(settings.ValidateSettings(), kWidthTooBig);
    settings.SetOutputWidth(32768);
    settings.saveDir.clear();
    EXPECT_EQ(settings.ValidateSettings(), kSaveDirEmpty);
}

TEST_F(Acceptance, SingleFrame)
{
    settings.ChooseFrameMode(FrameMode::Single);
    settings.singleFrame = 11;
    EXPECT_EQ(settings.ValidateSettings(), kSingleTooBig);
    settings.singleFrame = 0;
    EXPECT_EQ(settings.ValidateSettings(), kParameterWrong);
    settings.singleFrame = 10;
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
    EXPECT_EQ(settings.fromFrame, 10u);
    EXPECT_EQ(settings.toFrame, 10u);
}

TEST_F(Acceptance, Range)
{
    settings.ChooseFrameMode(FrameMode::Range);
    for (auto [from, to] : {std::pair{5u, 3u}, {0u, 3u}, {1u, 0u}, {1u, 11u}}) {
        settings.fromFrame = from;
        settings.toFrame = to;
        EXPECT_EQ(settings.ValidateSettings(), kParameterWrong) << from << "-" << to;
        EXPECT_EQ(settings.fromFrame, from) << "a refused attempt changes nothing";
    }
    settings.fromFrame = 1;
    settings.toFrame = 10;
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
}

TEST_F(Acceptance, AllTakesTheWholeSequenceEvenAfterFacesChosenOneByOne)
{
    settings.fromFrame = 1;
    settings.toFrame = 1;
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
    EXPECT_EQ(settings.toFrame, 10u);
}

TEST_F(Acceptance, SerialTooShortForTheLastFrameIsRefused)
{
    for (int n = 11; n <= 1001; ++n) {
        for (int k = 0; k < 5; ++k) {
            Touch(Dir() / std::string(kFaceWords[k]) / ("f" + std::to_string(n) + ".bmp"));
        }
    }
    settings.FillFromUpperDir();
    ASSERT_EQ(settings.frameCount, 1001);
    settings.ChooseFrameMode(FrameMode::Range);
    settings.fromFrame = 1;
    settings.toFrame = 1000;  // index 999: three digits suffice
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
    settings.toFrame = 1001;  // index 1000 would be written as 000 again
    EXPECT_EQ(settings.ValidateSettings(), kParameterWrong);
    settings.serialDigits = 4;
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
}

TEST_F(Acceptance, AVideoNeedsItsFileAndARateInsteadOfTheFolderAndNames)
{
    settings.writeVideo = true;
    settings.saveDir.clear();
    EXPECT_EQ(settings.ValidateSettings(), kVideoPathEmpty);
    settings.videoPath = (Dir() / "cube.mov").string();
    settings.frameRate = FrameRate(0, 1);
    EXPECT_EQ(settings.ValidateSettings(), kFrameRateZero);
    settings.frameRate = {30000, 1001};
    // A video names no frames: neither the serial digits nor the image
    // format are checked.
    settings.serialDigits = 0;
    settings.outputFormat = "gif";
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
    EXPECT_EQ(settings.toFrame, 10u);

    const CCube2DomeJob job = MakeCube2DomeJob(settings, 180, 0.0f);
    EXPECT_EQ(job.videoPath, settings.videoPath);
    EXPECT_EQ(job.frameRate, FrameRate(30000, 1001));
    settings.writeVideo = false;
    EXPECT_EQ(settings.ValidateSettings(), kSaveDirEmpty);
    settings.saveDir = Dir().string();
    settings.serialDigits = 3;
    settings.outputFormat = "bmp";
    EXPECT_EQ(settings.ValidateSettings(), std::nullopt);
    EXPECT_EQ(MakeCube2DomeJob(settings, 180, 0.0f).videoPath, "") << "images, though a video file is named";
}

TEST_F(Acceptance, FirstFailingCheckWins)
{
    settings.SetOutputWidth(0);
    settings.saveDir.clear();
    settings.ChooseFrameMode(FrameMode::Range);
    settings.toFrame = 99;
    EXPECT_EQ(settings.ValidateSettings(), kWidthZero);
}

TEST(SerialDigitsNeeded, CountsDecimalDigits)
{
    EXPECT_EQ(SerialDigitsNeeded(0), 1);
    EXPECT_EQ(SerialDigitsNeeded(999), 3);
    EXPECT_EQ(SerialDigitsNeeded(1000), 4);
    EXPECT_EQ(SerialDigitsNeeded(4294967295u), 10);
}

}  // namespace
}  // namespace skelvane
