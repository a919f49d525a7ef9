#include "pano2dome/SharpMapAhead.h"

#include "engine/jobs/MessageReporter.h"
#include "imageio/ImageCodecRegistry.h"

namespace skelvane {
namespace {

// A build that fails here is built again by the job, which reports it then.
class CQuietReporter final : public CMessageReporter {
public:
    void ShowMessage(const std::string&) override {}
};

}  // namespace

CSharpMapAhead::CSharpMapAhead(const std::filesystem::path& panoramaPath, const DomeSize& domeSize, std::int32_t fov,
                               float tilt, int threads)
    : m_arena(threads > 0 ? threads : tbb::task_arena::automatic, 1)
{
    SharpMapKey key;
    if (!ReadImageSize(panoramaPath, key.panoWidth, key.panoHeight)) {
        return;
    }
    key.outSize = domeSize(key.panoHeight);
    key.fov = fov;
    key.tilt = tilt;
    if (key.outSize < 2 || key.outSize > kMaxPanoDomeSize) {
        return;
    }
    m_key = key;
    m_arena.enqueue(m_group.defer([this] {
        CQuietReporter quiet;
        CPanoDomeProjector projector(quiet);
        m_map = projector.BuildPanoDomeSharpMap(m_key.panoWidth, m_key.panoHeight, m_key.outSize, m_key.fov,
                                                m_key.tilt);
    }));
    m_started = true;
}

CSharpMapAhead::~CSharpMapAhead()
{
    m_group.cancel();
    Wait();
}

void CSharpMapAhead::Wait()
{
    if (!m_started) {
        return;
    }
    m_started = false;
    try {
        m_arena.execute([this] { m_group.wait(); });
    } catch (...) {
        m_map.reset();  // out of memory on the way: the job builds it again
    }
}

PanoMap CSharpMapAhead::Take(const SharpMapKey& key)
{
    const std::lock_guard<std::mutex> lock(m_taking);
    Wait();
    return key == m_key ? std::move(m_map) : nullptr;
}

}  // namespace skelvane
