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

}  // namespace skelvane
