// Whether a pixel loop for particular processor features runs. It runs on
// processors that have them unless a test has turned it off, to check it
// against the loops it replaces.
#pragma once

#include <atomic>

namespace skelvane {

class LoopSwitch {
public:
    using Supported = bool (*)();

    // `supported` is null where the loop is not built for this processor family.
    explicit LoopSwitch(Supported supported) : m_supported(supported), m_on(IsSupported()) {}

    bool On() const { return m_on.load(std::memory_order_relaxed); }

    // Turns the loop on where the processor allows it, or off; returns
    // whether it now runs.
    bool Use(bool enable)
    {
        m_on.store(enable && IsSupported());
        return On();
    }

private:
    bool IsSupported() const { return m_supported && m_supported(); }

    Supported m_supported;
    std::atomic<bool> m_on;
};

// The loops of a kind that has AVX2 and AVX-512 variants, narrowest first.
enum class PixelLoop { OnePixel, Avx2, Avx512 };

// For tests: runs `loop` of the kind whose switches are `avx2` and `avx512`
// from now on, where the processor has it, and returns whether it does.
// The last, where it runs, is the default.
inline bool UsePixelLoop(PixelLoop loop, LoopSwitch& avx2, LoopSwitch& avx512)
{
    switch (loop) {
    case PixelLoop::OnePixel:
        avx2.Use(false);
        avx512.Use(false);
        return true;
    case PixelLoop::Avx2:
        avx512.Use(false);
        return avx2.Use(true);
    case PixelLoop::Avx512:
        avx2.Use(true);
        return avx512.Use(true);
    }
    return false;
}

}  // namespace skelvane
