#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pano2dome/DomeSequence.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

class DomeSequenceTest : public ::testing::Test {
protected:
    void Touch(const std::vector<std::string>& names)
    {
        for (const std::string& name : names) {
            test::WriteFileBytes(m_dir / name, {1});
        }
    }

    std::vector<std::string> Names(const DomeSequence& sequence) const
    {
        std::vector<std::string> names;
        for (const fs::path& path : sequence.files) {
            EXPECT_EQ(path.parent_path(), m_dir.Path());
            names.push_back(path.filename().string());
        }
        return names;
    }

    test::TempDir m_dir;
};

TEST_F(DomeSequenceTest, FramesComeInNumberOrderWhateverElseTheFolderHolds)
{
    // Numbers compare by value (9 before 10), and a farm's odd-width numbers
    // still sort; hidden staging files, folders, names without a number and
    // files no reader knows are no part of the sequence.
    Touch({"FullDome_10.png", "FullDome_9.png", "FullDome_11.png", ".FullDome_12.png.part", "notes.txt",
           "FullDome_.png", "FullDome_12.gif", "cover.png"});
    fs::create_directory(m_dir / "FullDome_13.png");
    DomeSequence sequence;
    std::string reason;
    ASSERT_EQ(FindDomeSequence(m_dir.Path(), {}, sequence, reason), DomeSequenceProblem::None) << reason;
    EXPECT_EQ(Names(sequence), (std::vector<std::string>{"FullDome_9.png", "FullDome_10.png", "FullDome_11.png"}));
    EXPECT_EQ(sequence.numbers, (std::vector<std::uint64_t>{9, 10, 11}));
    EXPECT_EQ(sequence.missing, 0u);
}

TEST_F(DomeSequenceTest, RefusalsSayWhy)
{
    struct Case {
        const char* what;
        std::vector<std::string> files;
        DomeSequenceChoice choice;
        DomeSequenceProblem problem;
        std::string reason;  // after the folder's name, or the whole text
        bool whole;
    };
    const std::vector<Case> cases = {
        {"nothing numbered", {"a.png", "notes.txt"}, {}, DomeSequenceProblem::NoSequence,
         " holds no numbered images (names that end in a frame number, such as 0000.jpg or FullDome_001.png).",
         false},
        {"prefix not there", {"0001.jpg"}, {"shot_"}, DomeSequenceProblem::NoSequence,
         " holds no numbered images named \"shot_\" and a frame number.", false},
        {"two sequences", {"A0001.png", "A0002.png", "B1.jpg"}, {}, DomeSequenceProblem::SeveralSequences,
         " holds 2 numbered sequences: A0001.png to A0002.png (2 frames); B1.jpg (1 frame).", false},
        {"one prefix, two formats", {"0001.png", "0001.jpg"}, {}, DomeSequenceProblem::SeveralSequences,
         " holds 2 numbered sequences: 0001.jpg (1 frame); 0001.png (1 frame).", false},
        {"a number twice", {"f1.png", "f001.png", "f2.png"}, {}, DomeSequenceProblem::NumberTwice,
         "f001.png and f1.png are both frame 1.", true},
        {"one frame missing", {"0000.jpg", "0001.jpg", "0003.jpg"}, {}, DomeSequenceProblem::Gap,
         "Frame 2 is missing between 0001.jpg and 0003.jpg.", true},
        {"frames missing", {"0000.jpg", "0004.jpg", "0006.jpg"}, {}, DomeSequenceProblem::Gap,
         "Frames 1 to 3 are missing between 0000.jpg and 0004.jpg.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_dir / "case");
        fs::create_directory(m_dir / "case");
        for (const std::string& name : c.files) {
            test::WriteFileBytes(m_dir / "case" / name, {1});
        }
        DomeSequence sequence;
        std::string reason;
        EXPECT_EQ(FindDomeSequence(m_dir / "case", c.choice, sequence, reason), c.problem);
        EXPECT_EQ(reason, c.whole ? c.reason : (m_dir / "case").string() + c.reason);
        EXPECT_TRUE(sequence.files.empty());
    }
    DomeSequence sequence;
    std::string reason;
    EXPECT_EQ(FindDomeSequence(m_dir / "missing", {}, sequence, reason), DomeSequenceProblem::Folder);
    EXPECT_EQ(reason, (m_dir / "missing").string() + ": there is no such folder.");
    test::WriteFileBytes(m_dir / "plain", {1});
    EXPECT_EQ(FindDomeSequence(m_dir / "plain", {}, sequence, reason), DomeSequenceProblem::Folder);
    EXPECT_EQ(reason, (m_dir / "plain").string() + " is not a folder.");
}

TEST_F(DomeSequenceTest, APrefixPicksOneSequenceAndGapsMaySkip)
{
    Touch({"A0001.png", "A0002.png", "B0001.png", "B0002.png", "B0005.png"});
    DomeSequence sequence;
    std::string reason;
    ASSERT_EQ(FindDomeSequence(m_dir.Path(), {"A"}, sequence, reason), DomeSequenceProblem::None) << reason;
    EXPECT_EQ(Names(sequence), (std::vector<std::string>{"A0001.png", "A0002.png"}));

    EXPECT_EQ(FindDomeSequence(m_dir.Path(), {"B"}, sequence, reason), DomeSequenceProblem::Gap);
    EXPECT_EQ(reason, "Frames 3 to 4 are missing between B0002.png and B0005.png.");
    ASSERT_EQ(FindDomeSequence(m_dir.Path(), {"B", true}, sequence, reason), DomeSequenceProblem::None) << reason;
    EXPECT_EQ(Names(sequence), (std::vector<std::string>{"B0001.png", "B0002.png", "B0005.png"}));
    EXPECT_EQ(sequence.missing, 2u);
}

}  // namespace
}  // namespace skelvane
