#include "cube2dome/Cube2DomeSettings.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "imageio/ImageCodecRegistry.h"

namespace skelvane {

void Cube2DomeSettings::FillFromUpperDir()
{
    if (upperDir.empty()) {
        return;
    }
    constexpr char separator = std::filesystem::path::preferred_separator;
    const std::string base = upperDir.back() == separator ? upperDir : upperDir + separator;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        facePath[k] = base + std::string(kFaceWords[k]);
    }
    selectedFace = Left;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        faceList[k].reset();
        RebuildFace(k);
    }
    frameCount = static_cast<int>(faceList[Left]->Count());
    if (frameMode == FrameMode::All) {
        fromFrame = 1;
        toFrame = static_cast<unsigned>(frameCount);
    }
}

void Cube2DomeSettings::RebuildFace(int k)
{
    if (k < 0 || k >= kCubeFaceCount) {
        return;
    }
    faceList[k].reset();
    faceList[k] = ListFaceFrames(facePath[k], inputFormat);
}

void Cube2DomeSettings::ChooseFaceFolder(int k, std::string folder)
{
    if (k < 0 || k >= kCubeFaceCount) {
        return;
    }
    facePath[k] = std::move(folder);
    selectedFace = k;
    RebuildFace(k);
    frameCount = static_cast<int>(faceList[k]->Count());
}

void Cube2DomeSettings::ChooseFrameMode(FrameMode mode)
{
    frameMode = mode;
    if (mode == FrameMode::All && frameCount != 0) {
        fromFrame = 1;
        toFrame = static_cast<unsigned>(frameCount);
    }
}

void Cube2DomeSettings::SetOutputWidth(unsigned width)
{
    outputWidth = width;
    outputHeight = width;
}

void Cube2DomeSettings::ApplyFaceImageWidth(std::int32_t faceWidth)
{
    if (faceWidth > 0) {
        SetOutputWidth(2u * static_cast<unsigned>(faceWidth));
    }
}

std::optional<std::string> Cube2DomeSettings::ValidateSettings()
{
    using namespace cube2dome_text;
    if (faceCount != 5 && faceCount != 6) {
        return kParameterWrong;
    }
    for (int k = 0; k < faceCount; ++k) {
        if (!faceList[k]) {
            return kParameterWrong;
        }
    }
    frameCount = static_cast<int>(faceList[Left]->Count());
    const auto count = static_cast<unsigned>(frameCount);
    if (count == 0) {
        return kInputNull;
    }
    for (int k = Left + 1; k < faceCount; ++k) {
        if (faceList[k]->Count() != count) {
            return kInputNotSame;
        }
    }
    if (outputWidth == 0) {
        return kWidthZero;
    }
    if (outputWidth > static_cast<unsigned>(kMaxImageSide)) {
        return kWidthTooBig;
    }
    if (writeVideo) {
        if (videoPath.empty()) {
            return kVideoPathEmpty;
        }
        if (!frameRate.IsPositive()) {
            return kFrameRateZero;
        }
    } else if (saveDir.empty()) {
        return kSaveDirEmpty;
    }
    unsigned first = fromFrame;
    unsigned last = toFrame;
    switch (frameMode) {
    case FrameMode::Single:
        if (singleFrame > count) {
            return kSingleTooBig;
        }
        // Frames are numbered from 1: frame 0 names no file.
        if (singleFrame == 0) {
            return kParameterWrong;
        }
        first = last = singleFrame;
        break;
    case FrameMode::Range:
        if (fromFrame == 0 || toFrame == 0 || toFrame < fromFrame || toFrame > count) {
            return kParameterWrong;
        }
        break;
    case FrameMode::All:
        first = 1;
        last = count;
        break;
    }
    // A serial too short for the last frame would give two frames one name;
    // a video names no frames.
    if (!writeVideo && (serialDigits < kMinSerialDigits || serialDigits > kMaxSerialDigits ||
                        SerialDigitsNeeded(last - 1) > serialDigits)) {
        return kParameterWrong;
    }
    if (!IsImageFormat(inputFormat, CodecUse::Read) ||
        (!writeVideo && !IsImageFormat(outputFormat, CodecUse::Write))) {
        return kParameterWrong;
    }
    fromFrame = first;
    toFrame = last;
    return std::nullopt;
}

float VerticalAngleFromSlider(int position)
{
    return static_cast<float>(position - kVerticalSliderCentre) * 0.1f;
}

int SliderFromVerticalAngle(float angle)
{
    const float position = angle * 10.0f + static_cast<float>(kVerticalSliderCentre);
    if (!(position > 0.0f)) {
        return 0;  // also a non-number
    }
    if (position >= static_cast<float>(kVerticalSliderMax)) {
        return kVerticalSliderMax;
    }
    return static_cast<int>(position);
}

int SerialDigitsNeeded(unsigned index)
{
    int digits = 1;
    while (index >= 10) {
        index /= 10;
        ++digits;
    }
    return digits;
}

}  // namespace skelvane
