// Every list of image formats the program shows or checks against is the
// codec registry's: the command line's choices, the settings' and jobs'
// checks, the desktop's choice lists and file filters. A surface with a list
// of its own would miss the next format the registry gains.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "cube2dome/Cube2DomeSettings.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "imageio/ImageCodecRegistry.h"
#include "pano2dome/Pano2DomeJob.h"
#include "pano2dome/VideoEncoderSettings.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using Formats = std::vector<std::string>;

// The registry's short names, then extensions no format has: what a probe of
// a check offers it.
Formats Candidates()
{
    Formats candidates = FormatChoices(CodecUse::Read);
    for (const std::string& format : FormatChoices(CodecUse::Write)) {
        if (std::find(candidates.begin(), candidates.end(), format) == candidates.end()) {
            candidates.push_back(format);
        }
    }
    candidates.insert(candidates.end(), {"gif", "pcx", "webp", "jpe"});
    return candidates;
}

Formats Accepted(const std::function<bool(const std::string&)>& accepts)
{
    Formats accepted;
    for (const std::string& format : Candidates()) {
        if (accepts(format)) {
            accepted.push_back(format);
        }
    }
    return accepted;
}

// The choices skelvane-cli's help gives for one option: "{bmp,jpg,png,tga}".
Formats CliChoices(const std::string& command, const std::string& option)
{
    const std::string line = std::string(SKELVANE_CLI_PATH) + " " + command + " --help";
    std::unique_ptr<FILE, int (*)(FILE*)> help(popen(line.c_str(), "r"), pclose);
    std::string text;
    char buffer[4096];
    while (help && std::fgets(buffer, sizeof buffer, help.get())) {
        text += buffer;
    }
    const std::size_t at = text.find(option + " ");
    const std::size_t open = text.find('{', at);
    const std::size_t close = text.find('}', open);
    if (at == std::string::npos || open == std::string::npos || close == std::string::npos) {
        return {"no choices for " + option};
    }
    Formats choices;
    std::string list = text.substr(open + 1, close - open - 1) + ",";
    for (std::size_t start = 0, comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1) {
        choices.push_back(list.substr(start, comma - start));
    }
    return choices;
}

Formats ComboItems(const QComboBox* combo)
{
    Formats items;
    for (int i = 0; i < combo->count(); ++i) {
        items.push_back(combo->itemText(i).toStdString());
    }
    return items;
}

// The first extension of each filter but the last ("All Files"), every
// extension of the format listed in both cases.
Formats FilterFormats(const QStringList& filters)
{
    Formats formats;
    for (qsizetype i = 0; i + 1 < filters.size(); ++i) {
        const QString& filter = filters[i];
        const qsizetype star = filter.indexOf(QStringLiteral("*."));
        const std::string format = filter.mid(star + 2, filter.indexOf(' ', star) - star - 2).toStdString();
        formats.push_back(format);
        const ImageCodec* codec = FindImageCodec(format);
        for (std::string_view extension : codec ? codec->extensions : std::span<const std::string_view>{}) {
            const QString lower = QString::fromLatin1(extension.data(), static_cast<qsizetype>(extension.size()));
            EXPECT_TRUE(filter.contains("*." + lower) && filter.contains("*." + lower.toUpper()))
                << filter.toStdString();
        }
    }
    return formats;
}

class FormatLists : public ::testing::Test {
protected:
    // Whether the settings' Accept check passes with faces of `input` and
    // domes of `output`.
    bool SettingsAccept(const std::string& input, const std::string& output)
    {
        const fs::path upper = m_dir / ("faces-" + input);
        for (int k = 0; k < kCubeFaceCount; ++k) {
            fs::create_directories(upper / std::string(kFaceWords[k]));
            std::ofstream(upper / std::string(kFaceWords[k]) / ("f1." + input)) << "x";
        }
        Cube2DomeSettings settings;
        settings.inputFormat = input;
        settings.outputFormat = output;
        settings.upperDir = upper.string();
        settings.FillFromUpperDir();
        settings.SetOutputWidth(64);
        settings.saveDir = (m_dir / "out").string();
        return !settings.ValidateSettings();
    }

    bool PanoJobAccepts(int mode, const std::string& format)
    {
        CPano2DomeJob job;
        job.mode = mode;
        job.panorama = std::make_shared<CImageBuffer>(test::MakePatternImage(8, 4));
        job.outputWidth = 4;
        job.frameDir = (m_dir / "frames").string();
        job.frameFormat = format;
        job.imagePath = (m_dir / ("dome." + format)).string();
        return !CheckPano2DomeJob(job);
    }

    // The filters of the page's Open Image dialog, or of its Save To dialog
    // in image mode.
    QStringList PageFilters(bool save)
    {
        VideoEncoderSettings video;
        CPano2DomePage page(video);
        page.show();
        const fs::path panorama = m_dir / "pano.bmp";
        EXPECT_TRUE(test::MakePatternImage(64, 32).Save(panorama));
        test::FileDialogAnswer answer(QString::fromStdString(panorama.string()));
        QTest::mouseClick(page.OpenButton(), Qt::LeftButton);
        if (save) {
            QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
        }
        return answer.Requests().empty() ? QStringList() : answer.Requests().back().filters;
    }

    test::TempDir m_dir;
};

TEST_F(FormatLists, EverySurfaceOffersTheRegistrysFormats)
{
    struct Surface {
        const char* name;
        CodecUse use;
        const char* first;  // the surface's default, listed first
        std::function<Formats()> offered;
    };
    CCube2DomeSettingDlg settingsDialog;
    VideoEncoderSettings video;
    CPano2DomePage page(video);
    const Surface surfaces[] = {
        {"cube2dome --in-format", CodecUse::Read, "", [] { return CliChoices("cube2dome", "--in-format"); }},
        {"cube2dome --out-format", CodecUse::Write, "", [] { return CliChoices("cube2dome", "--out-format"); }},
        {"pano2dome --format", CodecUse::Write, "jpg", [] { return CliChoices("pano2dome", "--format"); }},
        {"sample --format", CodecUse::Write, "", [] { return CliChoices("sample", "--format"); }},
        {"settings check, faces", CodecUse::Read, "",
         [this] { return Accepted([this](const std::string& f) { return SettingsAccept(f, "bmp"); }); }},
        {"settings check, domes", CodecUse::Write, "",
         [this] { return Accepted([this](const std::string& f) { return SettingsAccept("bmp", f); }); }},
        {"pano job check, frames", CodecUse::Write, "",
         [this] { return Accepted([this](const std::string& f) { return PanoJobAccepts(kPanoFrames, f); }); }},
        {"pano job check, image", CodecUse::Write, "",
         [this] { return Accepted([this](const std::string& f) { return PanoJobAccepts(kPanoImage, f); }); }},
        {"settings dialog, input", CodecUse::Read, "", [&] { return ComboItems(settingsDialog.InputFormatCombo()); }},
        {"settings dialog, output", CodecUse::Write, "", [&] { return ComboItems(settingsDialog.OutputFormatCombo()); }},
        {"Pano2Dome page, frames", CodecUse::Write, "jpg", [&] { return ComboItems(page.FormatCombo()); }},
        {"Pano2Dome page, open", CodecUse::Read, "jpg", [this] { return FilterFormats(PageFilters(false)); }},
        {"Pano2Dome page, save", CodecUse::Write, "jpg", [this] { return FilterFormats(PageFilters(true)); }},
    };
    for (const Surface& surface : surfaces) {
        EXPECT_EQ(surface.offered(), FormatChoices(surface.use, surface.first)) << surface.name;
    }
}

}  // namespace
}  // namespace skelvane
