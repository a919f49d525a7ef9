// How a video is encoded: the choices of the video settings dialog, read by
// the video jobs when they configure their encoder. The defaults are those of
// a dialog confirmed unchanged, so a video rendered without ever opening the
// dialog is encoded the same way.
#pragma once

#include "pano2dome/VideoFormat.h"

namespace skelvane {

struct VideoEncoderSettings {
    // Key frame placement (CVideoEncoder::KeyFrameSelect).
    static constexpr int kKeyFramesAutomatic = 0;
    static constexpr int kKeyFramesEvery = 1;
    static constexpr int kKeyFramesAll = 2;

    int quality = 1;                      // 1 (best) to 42 (least)
    int keyFrameMode = kKeyFramesEvery;   // 0 automatic, 1 every keyFrameEvery frames, 2 all
    int keyFrameEvery = 24;               // used in mode 1 only; 0 there means automatic
    bool twoPass = false;                 // multi-pass encode
    VideoStream stream;                   // codec, profile, alpha (H.264 by default)
};

// The settings of a dialog never opened, for windows made without one.
inline const VideoEncoderSettings& DefaultVideoSettings()
{
    static const VideoEncoderSettings kDefaults;
    return kDefaults;
}

}  // namespace skelvane
