// Which instruction sets the pixel loops run with.
//
// Each loop kind is written once over Google Highway's vectors and built for
// several instruction sets (on x86-64 one without vectors, AVX2 and AVX-512;
// on ARM64 one without vectors and NEON). A loop is picked when its plan or
// frame is set up, never per row: the widest set the processor has, or a
// narrower one where the environment variable SKELVANE_SIMD caps it:
//   SKELVANE_SIMD=scalar   one pixel at a time, no vector instructions
//   SKELVANE_SIMD=avx2     at most AVX2 (an AVX-512 machine runs the AVX2 loops)
//   SKELVANE_SIMD=avx512   no cap (the default; so is an unset or unknown value)
// Every set gives the same pixels, bit for bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skelvane::simd {

// The targets a value of SKELVANE_SIMD leaves (null: unset), as a mask of
// Highway target bits.
std::int64_t CapFromSetting(const char* setting);

// The instruction sets (Highway target bits) loops may be picked from now:
// those built that the processor has, within the cap.
std::int64_t UsableTargets();

// Each instruction set built that the processor has, narrowest first.
std::vector<std::int64_t> SupportedTargets();

// A short name of a target ("EMU128", "AVX2", "AVX3", "NEON", ...).
std::string TargetName(std::int64_t target);

// The widest target the loops would be picked from now.
std::string ActiveTargetName();

// For tests and benchmarks: loops picked from now on use `target` only; 0
// undoes it.
void UseOnlyTargetForTest(std::int64_t target);

// As UseOnlyTargetForTest for the supported target of that name; false,
// changing nothing, where the processor has none such.
bool UseOnlyTargetNamed(const std::string& name);

}  // namespace skelvane::simd
