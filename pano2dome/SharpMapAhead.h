// A sharp sweep's map built while its panorama is still being decoded. The
// map needs only the panorama's size, which a JPEG's header gives at once.
// Built afterwards, it would hold back the sweep's first frame while the
// decode had left every core but one idle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>

#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "engine/projection/PanoDomeProjector.h"

namespace skelvane {

// What a sharp map is built for.
struct SharpMapKey {
    std::int32_t panoWidth = 0;
    std::int32_t panoHeight = 0;
    std::int32_t outSize = 0;
    std::int32_t fov = 0;
    float tilt = 0.0f;
    bool operator==(const SharpMapKey&) const = default;
};

class CSharpMapAhead {
public:
    // The dome's side for a panorama of this height.
    using DomeSize = std::function<std::int32_t(std::int32_t panoHeight)>;

    // Reads the size from the header of `panoramaPath` and starts the map on
    // the cores the caller leaves free: `threads` in all (0: every core), of
    // which the caller's decoding thread is one. A file whose size its header
    // does not give, or a dome that cannot be mapped, starts nothing: the job
    // then builds its own map and reports what fails.
    CSharpMapAhead(const std::filesystem::path& panoramaPath, const DomeSize& domeSize, std::int32_t fov, float tilt,
                   int threads);
    // A map not taken is abandoned; waits only for the rows under way.
    ~CSharpMapAhead();
    CSharpMapAhead(const CSharpMapAhead&) = delete;
    CSharpMapAhead& operator=(const CSharpMapAhead&) = delete;

    // The map, once, if it was built for `key`; null otherwise. The calling
    // thread helps to finish it.
    PanoMap Take(const SharpMapKey& key);

private:
    void Wait();

    // One slot is kept for the thread that takes the map, so the map has
    // every core once the decode is over and all but one before.
    tbb::task_arena m_arena;
    tbb::task_group m_group;
    std::mutex m_taking;  // copies of a job share the map; the first run takes it
    bool m_started = false;
    SharpMapKey m_key;
    PanoMap m_map;
};

}  // namespace skelvane
