#include "imageio/ImageCodec.h"

#include <algorithm>

namespace skelvane {

std::string_view SampleDepthName(SampleDepth depth)
{
    switch (depth) {
    case kDepth8:
        return "8";
    case kDepth16:
        return "16";
    case kDepthFloat:
        return "float";
    }
    return "?";
}

SampleDepth SampleDepthOf(ChannelType type)
{
    switch (type) {
    case ChannelType::Uint16:
        return kDepth16;
    case ChannelType::Float:
        return kDepthFloat;
    case ChannelType::Uint8:
        break;
    }
    return kDepth8;
}

std::string_view CompressionName(FileCompression compression)
{
    switch (compression) {
    case FileCompression::Default:
        return "default";
    case FileCompression::None:
        return "none";
    case FileCompression::Lzw:
        return "lzw";
    case FileCompression::Deflate:
        return "deflate";
    case FileCompression::Zip:
        return "zip";
    case FileCompression::Piz:
        return "piz";
    case FileCompression::Dwaa:
        return "dwaa";
    }
    return "?";
}

bool ImageCodec::WritesCompression(FileCompression compression) const
{
    return compression == FileCompression::Default ||
           std::find(compressions.begin(), compressions.end(), compression) != compressions.end();
}

SampleDepth DefaultFileDepth(const ImageCodec& codec, ChannelType type)
{
    const SampleDepth own = SampleDepthOf(type);
    if (codec.writes.Has(own)) {
        return own;
    }
    for (SampleDepth depth : {kDepthFloat, kDepth16, kDepth8}) {
        if (codec.writes.Has(depth)) {
            return depth;
        }
    }
    return kDepth8;
}

}  // namespace skelvane
