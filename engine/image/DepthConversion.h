// Images from one channel type to another (engine/image/PixelDepth.h).
//
// Widening is exact: 8-bit values become 16-bit ones times 257 and floats
// divided by 255, so a picture widened and narrowed again is the picture it
// was. Floats become 16 bits rounded and clamped into 0..1.
//
// Narrowing to 8 bits is where a deep picture loses levels: a smooth sky
// gradient of 65536 levels left with 256 shows bands. A dither adds to each
// value, before it is cut to a whole level, an offset that differs from
// pixel to pixel, so the bands dissolve into a fine grain that keeps the
// average level:
// - Ordered: the offset comes from an 8 x 8 threshold matrix (Bayer's) by the
//   pixel's place; the pattern stays put from frame to frame, so an animated
//   sequence does not shimmer, and rows convert in parallel.
// - Diffusion: each pixel's rounding error goes on to its unvisited neighbours
//   (Floyd and Steinberg's weights, rows in alternating directions); the grain
//   is finer and without pattern, but it follows the picture, so it crawls
//   from frame to frame wherever the picture moves.
// - None: each value rounded to the nearest level.
// A value that is already a whole 8-bit level (a picture widened from 8 bits)
// comes out as that level with every choice.
#pragma once

#include "engine/image/ImageBuffer.h"
#include "engine/image/PixelDepth.h"

namespace skelvane {

enum class Dither { Ordered, Diffusion, None };

// The ordered dither's offset at picture position (x, y), in 128ths of a
// level: odd numbers from 1 to 127, each 8 x 8 block holding each once.
int OrderedDitherOffset(std::int32_t x, std::int32_t y);

// `source` as an image of `type` channels into `target`, with its colour
// description and file depth; `dither` applies when a deep image becomes 8-bit. False (target
// empty) for an empty source and for 8-, 16- and 24-bit bitmaps, which
// ConvertTo32 converts. Memory that runs out throws std::bad_alloc.
bool CopyAtChannelType(const CImageBuffer& source, ChannelType type, Dither dither, CImageBuffer& target);

// The same in place; the image is unchanged when it fails or memory runs out.
bool ConvertChannelType(CImageBuffer& image, ChannelType type, Dither dither = Dither::Ordered);

}  // namespace skelvane
