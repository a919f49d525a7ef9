// How each stream of pano2dome/VideoFormat.h is asked of FFmpeg's encoders:
// which encoder, which pixel format, which colour tags and which options. Used
// by the video encoder only; kept apart so that the session code there stays
// the same for every codec.
#pragma once

#include <cstdint>
#include <string>

#include "pano2dome/VideoFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/pixfmt.h>
}

namespace skelvane {

struct EncoderChoice {
    const char* encoderName = nullptr;  // for avcodec_find_encoder_by_name
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    bool rgb = false;         // RGB stream: full range, no YUV matrix
};

EncoderChoice ChooseEncoder(const VideoStream& stream);

// One pass of one encode, as the encoder's settings and session give it.
struct PassSetup {
    int width = 0;
    int height = 0;
    AVRational rate{25, 1};
    int quality = 1;          // 1 (best) to 42
    int keyFrameEvery = 0;    // 0 the encoder's choice, 1 intra only, else a fixed grid
    int threads = 0;          // 0 the libraries' choice
    int pass = 0;             // 0-based
    int passCount = 1;
    std::string statsFile;    // two passes only
    std::int64_t bitRate = 0; // the second pass's target, bits a second
    bool quiet = false;       // the encoder's own log lines kept to errors
};

// Fills the codec context's fields and `options` for one pass. The context
// comes fresh from avcodec_alloc_context3 for the chosen encoder.
void ConfigureEncoder(const VideoStream& stream, const PassSetup& setup, AVCodecContext& context,
                      AVDictionary** options);

// HAP frames are split into chunks that a player decompresses on several
// cores at once: about one per 512 KiB of texture, 1 to 64.
int HapChunkCount(int width, int height, VideoProfile profile);

}  // namespace skelvane
