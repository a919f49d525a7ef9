// skelvane-pictures, run as the README runs it: every window it knows gives a
// picture of that window, and what it cannot do ends with its exit status and
// no file.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QStringList>

#include "support/TempDir.h"
#include "support/TestImages.h"
#include "ui/DialogUnits.h"

namespace skelvane {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

class PicturesToolTest : public ::testing::Test {
public:
    struct Run {
        int exitCode = -1;
        QString errors;
    };

    Run Draw(const QStringList& arguments)
    {
        QProcess tool;
        tool.start(QStringLiteral(SKELVANE_PICTURES_TOOL), arguments);
        EXPECT_TRUE(tool.waitForFinished(60000)) << arguments.join(' ').toStdString();
        return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                QString::fromLocal8Bit(tool.readAllStandardError())};
    }

    // An upper folder of five face folders holding one frame each.
    QString WriteCubeSample()
    {
        for (const char* face : {"left", "front", "right", "back", "top"}) {
            fs::create_directories(dir / "cube" / face);
            EXPECT_TRUE(test::MakePatternImage(16, 16, face[0]).Save(dir / "cube" / face / "f00001.bmp"));
        }
        return Q(dir / "cube");
    }

    QString WritePanorama()
    {
        EXPECT_TRUE(test::MakePatternImage(200, 100, 5).Save(dir / "panorama.bmp"));
        return Q(dir / "panorama.bmp");
    }

    test::TempDir dir;
};

TEST_F(PicturesToolTest, EveryWindowGivesItsPicture)
{
    const QString cube = WriteCubeSample();
    const QString panorama = WritePanorama();
    const struct {
        QStringList arguments;
        QSize size;  // empty: any size
    } cases[] = {
        {{"main"}, {}},
        {{"about"}, {}},
        {{"video"}, {}},
        {{"cube2dome", "--sample", cube, "--tilt", "-30"}, {}},
        {{"cube2dome-setting", "--sample", cube}, {}},
        {{"pano2dome", "--sample", panorama, "--pan", "45"}, DialogSize(641, 371)},
        {{"icon", "--size", "48"}, QSize(48, 48)},
    };
    for (const auto& each : cases) {
        const QString file = Q(dir / (each.arguments[0] + ".png").toStdString());
        const Run run = Draw(QStringList{each.arguments[0], file} + each.arguments.mid(1));
        EXPECT_EQ(run.exitCode, 0) << each.arguments[0].toStdString() << ": " << run.errors.toStdString();
        const QImage picture(file);
        ASSERT_FALSE(picture.isNull()) << each.arguments[0].toStdString();
        if (!each.size.isEmpty()) EXPECT_EQ(picture.size(), each.size) << each.arguments[0].toStdString();
    }
    // The view options turn the page's view.
    const QString level = Q(dir / "level.png");
    ASSERT_EQ(Draw({"cube2dome", level, "--sample", cube, "--tilt", "0"}).exitCode, 0);
    EXPECT_NE(QImage(level), QImage(Q(dir / "cube2dome.png")));
}

TEST_F(PicturesToolTest, WhatCannotBeDrawnEndsWithoutAFile)
{
    const QString file = Q(dir / "picture.png");
    const struct {
        QStringList arguments;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"sideways", file}, 2, "unknown window 'sideways'"},
        {{"main"}, 2, "usage"},
        {{"main", file, "--tilt", "91"}, 2, "tilt"},
        {{"pano2dome", file, "--pan", "nan"}, 2, "pan"},
        {{"icon", file, "--size", "8"}, 2, "16 to 1024"},
        {{"pano2dome", file, "--sample", Q(dir / "missing.bmp")}, 1, "missing.bmp"},
        {{"cube2dome", file, "--sample", Q(dir / "nothing")}, 1, "nothing"},
    };
    for (const auto& each : cases) {
        const Run run = Draw(each.arguments);
        EXPECT_EQ(run.exitCode, each.exitCode) << each.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.errors.contains(QString::fromLatin1(each.says))) << run.errors.toStdString();
        EXPECT_FALSE(fs::exists(dir / "picture.png")) << each.arguments.join(' ').toStdString();
    }
}

}  // namespace
}  // namespace skelvane
