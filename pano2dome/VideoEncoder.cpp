// How a video is written:
//  1. OpenMPEG checks every setting and the target name, picks the container
//     from the extension and creates a hidden temporary file beside the
//     target.
//  2. Each pass is encoded and muxed into that file by the video library
//     (pano2dome/VideoLibrary.h), loaded with the first video.
//  3. Single pass: constant rate factor from the quality. Two passes (x264,
//     x265): the first encodes at that rate factor while the encoder writes
//     its statistics to a private folder; its average bit rate becomes the
//     target of the second pass, which reads the statistics to spread those
//     bits where the content needs them. The first pass's file is thrown away
//     when the second starts.
//  4. CloseMPEG has the library finish the file and renames it over the
//     target.
#include "pano2dome/VideoEncoder.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/MessageReporter.h"
#include "imageio/StagingEntry.h"
#include "pano2dome/VideoLibrary.h"

namespace skelvane {
namespace fs = std::filesystem;

namespace {

// The muxer for a container that CheckVideoTarget accepted.
const char* MuxerFor(const std::string& extension)
{
    if (extension == ".avi") {
        return "avi";
    }
    if (extension == ".mp4") {
        return "mp4";
    }
    return extension == ".mkv" ? "matroska" : "mov";
}

bool IsFrameDepth(int bitCount)
{
    return bitCount == 24 || bitCount == 32 || bitCount == 64;
}

}  // namespace

// Everything that exists between OpenMPEG and CloseMPEG.
struct CVideoEncoder::Session {
    fs::path target;
    CStagingEntry temporary;   // the file being written, until it is renamed or removed
    CStagingEntry statsFolder; // two-pass statistics; none for a single pass
    const char* container = nullptr;
    const VideoLibrary* library = nullptr;
    int passCount = 1;
    int pass = 0;
    bool failed = false;
    std::int64_t frames = 0;  // frames added in this pass
    // Declared after the staging entries, so that the file is closed before
    // an unpublished one is removed.
    std::unique_ptr<IVideoPassWriter> writer;
};

CVideoEncoder::CVideoEncoder() = default;
CVideoEncoder::~CVideoEncoder() = default;

void CVideoEncoder::SetMPEGFormat(MPEG_TYPE) { m_stream = VideoStream{}; }
void CVideoEncoder::SetStream(const VideoStream& stream) { m_stream = stream; }
void CVideoEncoder::SetMPEGWidth(int width) { m_width = width; }
void CVideoEncoder::SetMPEGHeight(int height) { m_height = height; }
void CVideoEncoder::SetFrameRate(FrameRate rate) { m_rate = rate; }

void CVideoEncoder::SetFrameRate(float framesPerSecond)
{
    // A rate that is no number, or beyond any fraction, is kept as 0 and
    // refused by OpenMPEG.
    m_rate = FrameRate(0, 1);
    if (std::isfinite(framesPerSecond) && framesPerSecond > 0.0f && framesPerSecond <= kMaxVideoFrameRate) {
        if (const VideoLibrary* library = LoadVideoLibrary()) {
            m_rate = library->nearestRate(framesPerSecond);
        }
    }
}
void CVideoEncoder::Set2Pass(int twoPass) { m_twoPass = twoPass; }
void CVideoEncoder::SetQuality(int quality) { m_quality = quality; }
void CVideoEncoder::SetKeyFrameSelect(int mode) { m_keyFrameSelect = mode; }
void CVideoEncoder::SetKeyFrameEvery(int frames) { m_keyFrameEvery = frames; }
void CVideoEncoder::SetThreadCount(int threads) { m_threads = threads; }

void CVideoEncoder::SetDither(Dither dither) { m_dither = dither; }

ChannelType CVideoEncoder::DeepFrameType() const
{
    return StreamBitDepth(m_stream) > 8 ? ChannelType::Uint16 : ChannelType::Uint8;
}

void CVideoEncoder::FitFrameToStream(CImageBuffer& frame) const
{
    if (frame.IsDeep()) {
        ConvertChannelType(frame, DeepFrameType(), m_dither);
    }
}

void CVideoEncoder::QuietLibraryMessages()
{
    // Without the library there are no messages to quieten; OpenMPEG says
    // why it is missing.
    if (const VideoLibrary* library = LoadVideoLibrary()) {
        library->quietMessages();
    }
}

int CVideoEncoder::GetPassCount() const { return m_session ? m_session->passCount : 0; }
std::int64_t CVideoEncoder::GetFrameCount() const { return m_session ? m_session->frames : 0; }

bool CVideoEncoder::Fail(std::string reason)
{
    if (m_session) {
        m_session->failed = true;
    }
    m_error = std::move(reason);
    return false;
}

std::string CVideoEncoder::CheckSettings(const fs::path& path) const
{
    if (m_width < 1 || m_height < 1 || m_width > kMaxImageSide || m_height > kMaxImageSide) {
        return "video size " + std::to_string(m_width) + " x " + std::to_string(m_height) +
               ": width and height must be from 1 to " + std::to_string(kMaxImageSide);
    }
    if (m_quality < kBestQuality || m_quality > kLeastQuality) {
        return "video quality " + std::to_string(m_quality) + " is outside 1 to 42";
    }
    if (m_keyFrameSelect < kKeyFramesAutomatic || m_keyFrameSelect > kKeyFramesAll) {
        return "unknown key frame mode " + std::to_string(m_keyFrameSelect);
    }
    if (m_keyFrameSelect == kKeyFramesEvery && m_keyFrameEvery < 0) {
        return "key frame interval " + std::to_string(m_keyFrameEvery) + " is negative";
    }
    if (m_threads < 0) {
        return "thread count " + std::to_string(m_threads) + " is negative";
    }
    if (path.empty()) {
        return "no video file name";
    }
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return "video file " + path.string() + " is a folder";
    }
    const VideoTarget target{m_stream, LowerVideoExtension(path.string()), m_width, m_height, m_rate};
    if (std::optional<std::string> refusal = CheckVideoTarget(target)) {
        return *refusal;
    }
    return {};
}

bool CVideoEncoder::OpenMPEG(const fs::path& path)
{
    m_session.reset();
    m_error.clear();
    if (std::string problem = CheckSettings(path); !problem.empty()) {
        return Fail(std::move(problem));
    }
    std::string why;
    const VideoLibrary* library = LoadVideoLibrary(&why);
    if (!library) {
        return Fail(std::move(why));
    }

    auto session = std::make_unique<Session>();
    std::error_code error;
    session->target = fs::absolute(path, error);
    if (error) {
        return Fail("video file " + path.string() + ": " + error.message());
    }
    session->container = MuxerFor(LowerVideoExtension(path.string()));
    session->library = library;
    session->passCount = m_twoPass && TakesTwoPasses(m_stream.codec) ? 2 : 1;

    if (session->passCount == 2) {
        const fs::path temp = fs::temp_directory_path(error);
        why = error ? error.message() : std::string();
        if (!error) {
            RemoveStaleStagingFiles(temp);  // statistics of killed runs
        }
        if (error || !session->statsFolder.CreateFolder(temp, "skelvane-passes", why)) {
            return Fail("cannot create a folder for the two-pass statistics in " + temp.string() + ": " + why);
        }
    }

    m_session = std::move(session);
    if (!OpenPass(0, 0)) {
        m_session.reset();  // removes whatever the failed start left
        return false;
    }
    return true;
}

// Creates the temporary file and has the library start the encoder and the
// muxer of one pass on it.
bool CVideoEncoder::OpenPass(int pass, std::int64_t bitRate)
{
    Session& s = *m_session;
    s.pass = pass;
    s.frames = 0;
    std::string why;
    if (!s.temporary.CreateFile(s.target.parent_path(), s.target.filename().string(), why)) {
        return Fail("cannot create a video file in " + s.target.parent_path().string() + ": " + why);
    }
    VideoPassRequest request;
    request.stream = m_stream;
    request.width = m_width;
    request.height = m_height;
    request.rate = m_rate;
    request.quality = m_quality;
    request.keyFrameEvery =
        m_keyFrameSelect == kKeyFramesAll ? 1 : m_keyFrameSelect == kKeyFramesEvery ? m_keyFrameEvery : 0;
    request.threads = m_threads;
    request.pass = pass;
    request.passCount = s.passCount;
    request.statsFolder = s.statsFolder.Path();
    request.bitRate = bitRate;
    request.container = s.container;
    request.file = s.temporary.Path();
    request.target = s.target;
    s.writer = s.library->openPass(request, why);
    if (!s.writer) {
        return Fail(std::move(why));
    }
    return true;
}

bool CVideoEncoder::StartNextPass()
{
    if (!m_session) {
        return Fail("no video file is open");
    }
    Session& s = *m_session;
    if (s.failed) {
        return false;
    }
    if (s.pass + 1 >= s.passCount) {
        return Fail("the video has no further pass");
    }
    if (s.frames == 0) {
        return Fail("the first pass saw no frames, so the second has nothing to distribute");
    }
    if (std::string problem = s.writer->Drain(); !problem.empty()) {
        return Fail(std::move(problem));
    }
    // The average rate the first pass needed for the chosen quality; the
    // encoder counts whole kilobits per second.
    const double seconds = static_cast<double>(s.frames) / m_rate.PerSecond();
    const auto bitRate = std::max<std::int64_t>(1000, std::llround(s.writer->CodedBytes() * 8.0 / seconds));

    // Closing the encoder is what completes its statistics file.
    s.writer.reset();
    s.temporary.Remove();
    return OpenPass(s.pass + 1, bitRate);
}

int CVideoEncoder::AddFrame(int width, int height, int bitCount, const std::uint8_t* pixels)
{
    if (!pixels || !IsFrameDepth(bitCount) || width <= 0 || height <= 0 ||
        width > kMaxImageSide || height > kMaxImageSide) {
        if (!m_session) {
            return Fail("no video file is open");
        }
        return Fail("a video frame must be a 24-, 32- or 64-bit image");
    }
    const std::int64_t stride = PaddedRowBytes(width, bitCount);
    return AddRows(width, height, bitCount, pixels + stride * (height - 1), -stride);
}

int CVideoEncoder::AddFrame(const CImageBuffer& image)
{
    if (image.IsEmpty()) {
        return Fail("a video frame is empty");
    }
    if (image.IsDeep() && image.GetChannelType() != DeepFrameType()) {
        CImageBuffer fitted;
        CopyAtChannelType(image, DeepFrameType(), m_dither, fitted);
        return AddFrame(fitted);
    }
    const std::int32_t height = image.GetHeight();
    const std::ptrdiff_t rowStep = height > 1 ? image.Row(1) - image.Row(0) : -std::ptrdiff_t{image.Stride()};
    return AddRows(image.GetWidth(), height, image.GetBitCount(), image.Row(0), rowStep);
}

int CVideoEncoder::AddRows(int width, int height, int bitCount, const std::uint8_t* topRow, std::ptrdiff_t rowStep)
{
    if (!m_session) {
        return Fail("no video file is open");
    }
    Session& s = *m_session;
    if (s.failed) {
        return 0;
    }
    if (width != m_width || height != m_height) {
        return Fail("a video frame of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels does not fit a video of " + std::to_string(m_width) + " x " +
                    std::to_string(m_height));
    }
    if (!IsFrameDepth(bitCount)) {
        return Fail("a video frame must be a 24-, 32- or 64-bit image");
    }
    if (std::string problem = s.writer->AddRows(width, height, bitCount, topRow, rowStep, s.frames);
        !problem.empty()) {
        return Fail(std::move(problem));
    }
    ++s.frames;
    return 1;
}

bool CVideoEncoder::CloseMPEG()
{
    if (!m_session) {
        return Fail(m_error.empty() ? "no video file is open" : m_error);
    }
    // Whatever happens below, the session ends here; its destructor removes
    // any file that was not published.
    std::unique_ptr<Session> session = std::move(m_session);
    Session& s = *session;
    if (s.failed) {
        return false;  // the first failure's reason stays in m_error
    }
    if (s.frames == 0) {
        // A container without a single frame is no video any player accepts.
        return Fail("no frames were added, so " + s.target.string() + " was not written");
    }
    if (std::string problem = s.writer->Finish(); !problem.empty()) {
        return Fail(std::move(problem));
    }
    s.writer.reset();

    std::error_code error;
    fs::rename(s.temporary.Path(), s.target, error);
    if (error) {
        return Fail("cannot create " + s.target.string() + ": " + error.message());
    }
    s.temporary.Release();
    return true;
}

}  // namespace skelvane
