// The model behind the Cube2Dome settings: which face folders, which frames,
// how the dome images are named and sized, and the checks made on Accept.
// No user interface: the desktop dialog and the command line both drive it
// and show its messages.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cube2dome/FaceFrameList.h"
#include "engine/projection/CubeDomeProjector.h"
#include "engine/projection/CubeDomeSampler.h"
#include "imageio/ImageCodec.h"
#include "pano2dome/FrameRate.h"

namespace skelvane {

// Sub-folder names of an upper folder, in CubeFace order.
inline constexpr std::array<std::string_view, kCubeFaceCount> kFaceWords = {"left", "front", "right",
                                                                           "back", "top",   "bottom"};
inline constexpr int kMinSerialDigits = 3;
inline constexpr int kMaxSerialDigits = 12;
inline constexpr std::size_t kMaxFolderChars = 1024;
inline constexpr std::size_t kMaxOutputPrefixChars = 32;

// Vertical view angle slider: positions 0..1800, 0.1 degree a step, 900 = 0.
inline constexpr int kVerticalSliderMax = 1800;
inline constexpr int kVerticalSliderCentre = 900;

enum class FrameMode { Single, Range, All };

namespace cube2dome_text {
inline constexpr const char* kParameterWrong = "Parameter wrong, please check! ";
inline constexpr const char* kInputNull = "The input picture is null, please check! ";
inline constexpr const char* kInputNotSame = "The input picture number is not same, please check! ";
inline constexpr const char* kWidthZero = "The output 'width' is zero, please check! ";
inline constexpr const char* kWidthTooBig = "The output 'width' is too big, please check! ";
inline constexpr const char* kSaveDirEmpty = "The save directory is empty, please check! ";
inline constexpr const char* kSingleTooBig = "The single frame's number is too big, please check! ";
inline constexpr const char* kVideoPathEmpty = "The video file is empty, please check! ";
inline constexpr const char* kFrameRateZero = "The frame rate is zero, please check! ";
}  // namespace cube2dome_text

struct Cube2DomeSettings {
    int faceCount = 5;
    // Extensions of the face files and of the dome images: formats of the
    // codec registry that can be read, and written.
    std::string inputFormat = "bmp";
    std::string outputFormat = "bmp";
    // Depth and dither of the dome images; the depth defaults to the faces'
    // own where the output format holds it.
    ImageWriteOptions writeOptions;
    std::string upperDir;
    std::array<std::string, kCubeFaceCount> facePath;
    // The Check group's per-face name rules; stored for the dialog, no rule uses them.
    std::array<std::string, kCubeFaceCount> facePrefix = {"L", "F", "R", "B", "T", "B"};
    std::array<int, kCubeFaceCount> faceSerialWidth = {5, 5, 5, 5, 5, 5};
    bool ignoreCheck = true;
    int selectedFace = -1;
    std::string outputPrefix = "FullDome_";
    int serialDigits = 3;
    FrameMode frameMode = FrameMode::All;
    unsigned singleFrame = 1;
    unsigned fromFrame = 1;
    unsigned toFrame = 1;
    unsigned outputWidth = 0;
    unsigned outputHeight = 0;
    float verticalAngle = 60.0f;
    std::string saveDir;
    // One video of the frames instead of numbered images in saveDir.
    bool writeVideo = false;
    std::string videoPath;
    FrameRate frameRate = 25;
    int frameCount = 0;
    std::array<FaceFrameListPtr, kCubeFaceCount> faceList;
    // How the faces are read, and sub-samples per dome pixel along each axis.
    CubeSampling sampling;

    // Derives all six face folders from upperDir (nothing without one),
    // selects Left, rebuilds all six lists and takes the frame count from the
    // Left list; in All mode the range becomes the whole sequence.
    void FillFromUpperDir();

    // Lists face k again from facePath[k] and inputFormat.
    void RebuildFace(int k);

    // A folder chosen for face k: selects the face, lists it and takes the
    // frame count from its list.
    void ChooseFaceFolder(int k, std::string folder);

    // Single and Range change no number; All takes 1..frameCount when the
    // count is known.
    void ChooseFrameMode(FrameMode mode);

    // Dome images are square: the height follows the width.
    void SetOutputWidth(unsigned width);

    // The output resolution rule: twice the width of a face image.
    void ApplyFaceImageWidth(std::int32_t faceWidth);

    // The Accept checks in order. Returns the first failing check's message
    // (the settings then keep every value as entered), or nothing on success,
    // with frameCount, fromFrame and toFrame resolved for the job. A video
    // needs its file and a frame rate instead of the save folder, and no
    // serial digits or output format.
    std::optional<std::string> ValidateSettings();
};

// Slider position -> vertical angle (32-bit float arithmetic).
float VerticalAngleFromSlider(int position);
// Vertical angle -> slider position, truncated toward zero, kept in 0..1800.
int SliderFromVerticalAngle(float angle);

// Digits of the serial that frame index `index` (frame number - 1) needs.
int SerialDigitsNeeded(unsigned index);

}  // namespace skelvane
