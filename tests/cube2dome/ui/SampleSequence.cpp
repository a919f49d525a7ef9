#include "SampleSequence.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "cli/SampleScene.h"
#include "cube2dome/Cube2DomeSettings.h"

namespace skelvane::test {

void WriteSampleSequence(const std::filesystem::path& upper, int frames, int size, int faces)
{
    static const char* const kLetters[kCubeFaceCount] = {"L", "F", "R", "B", "T", "B"};
    for (int k = 0; k < faces; ++k) {
        const std::filesystem::path folder = upper / std::string(kFaceWords[k]);
        std::filesystem::create_directories(folder);
        for (int frame = 1; frame <= frames; ++frame) {
            char name[32];
            std::snprintf(name, sizeof name, "%s%05d.bmp", kLetters[k], frame);
            CImageBuffer face = cli::DrawSampleFace(k, frame, size);
            ASSERT_TRUE(face.Save(folder / name)) << (folder / name);
        }
    }
}

QString ToQString(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

}  // namespace skelvane::test
