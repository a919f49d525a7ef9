// The equidistant fisheye in vector lanes, for the sub-sample loops of
// engine/simd/, included once per target inside HWY_NAMESPACE's scope by each
// loop file (after VectorBlocks.h).
//
// A point at distance r from the dome's centre looks at theta = k r from the
// view axis, along (sin(theta) x / r, sin(theta) y / r, cos(theta)). Both
// factors are even functions of r, so they are taken as series in
// t = theta^2 = k^2 (x^2 + y^2): no square root, no division, no library
// call, and a division-free direction at the centre. Truncated where the
// next term stays below 2e-10 for theta up to pi (a field of view of 360
// degrees), the series are exact to float rounding over every fisheye; they
// are evaluated in Horner's form with each product and sum rounded on its
// own, which every target does alike.
#if defined(SKELVANE_SIMD_FISHEYE_LANES_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SKELVANE_SIMD_FISHEYE_LANES_H_
#undef SKELVANE_SIMD_FISHEYE_LANES_H_
#else
#define SKELVANE_SIMD_FISHEYE_LANES_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace skelvane {
namespace HWY_NAMESPACE {

// sum over n of c[n] t^n, highest term first.
template <class V, std::size_t N>
HWY_INLINE V SeriesInT(V t, const float (&c)[N])
{
    const hn::DFromV<V> d;
    V sum = hn::Set(d, c[N - 1]);
    for (std::size_t n = N - 1; n-- > 0;) {
        sum = hn::Add(hn::Mul(sum, t), hn::Set(d, c[n]));
    }
    return sum;
}

// sin(sqrt(t)) / sqrt(t): (-1)^n / (2n + 1)!.
template <class V>
HWY_INLINE V SinOverRoot(V t)
{
    static constexpr float kTerms[] = {1.0f,
                                       -1.0f / 6.0f,
                                       1.0f / 120.0f,
                                       -1.0f / 5040.0f,
                                       1.0f / 362880.0f,
                                       -1.0f / 39916800.0f,
                                       1.0f / 6227020800.0f,
                                       -1.0f / 1307674368000.0f,
                                       1.0f / 355687428096000.0f,
                                       -1.0f / 121645100408832000.0f};
    return SeriesInT(t, kTerms);
}

// cos(sqrt(t)): (-1)^n / (2n)!.
template <class V>
HWY_INLINE V CosOfRoot(V t)
{
    static constexpr float kTerms[] = {1.0f,
                                       -1.0f / 2.0f,
                                       1.0f / 24.0f,
                                       -1.0f / 720.0f,
                                       1.0f / 40320.0f,
                                       -1.0f / 3628800.0f,
                                       1.0f / 479001600.0f,
                                       -1.0f / 87178291200.0f,
                                       1.0f / 20922789888000.0f,
                                       -1.0f / 6402373705728000.0f,
                                       1.0f / 2432902008176640000.0f};
    return SeriesInT(t, kTerms);
}

}  // namespace HWY_NAMESPACE
}  // namespace skelvane
HWY_AFTER_NAMESPACE();

#endif
