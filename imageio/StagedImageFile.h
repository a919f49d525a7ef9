// Writing an image under a name that must not exist yet, in two steps, so
// that the slow part can run for many frames at once while names are still
// given out one at a time, in order:
// 1. Stage() encodes the image with the codec of the extension (as Save
//    does) into a hidden staging file in the target folder (StagingEntry.h).
// 2. Publish() gives the staged file its final name without ever replacing an
//    existing entry (file, folder or link), so two writers can never share a
//    name. The name is taken atomically where the file system allows it
//    (rename without replace, else a hard link); elsewhere the file is
//    created exclusively and copied.
// An object that is destroyed unpublished removes its temporary file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodec.h"
#include "imageio/StagingEntry.h"

namespace skelvane {

class CStagedImageFile {
public:
    enum class PublishResult { Published, NameTaken, Failed };

    CStagedImageFile() = default;
    ~CStagedImageFile();
    CStagedImageFile(const CStagedImageFile&) = delete;
    CStagedImageFile& operator=(const CStagedImageFile&) = delete;

    // Encodes `image` as `extension` ("bmp", "jpg", ...) into `folder`. False
    // when the codec refuses or the file cannot be written, with the reason
    // in `error`.
    bool Stage(CImageBuffer& image, const std::filesystem::path& folder, std::string_view extension,
               std::string& error);
    // The same at the depth, dither and compression of `options`.
    bool Stage(CImageBuffer& image, const std::filesystem::path& folder, std::string_view extension,
               const ImageWriteOptions& options, std::string& error);
    // The same for a picture made a band at a time, in a format that
    // EncodesInBands (ImageCodecRegistry.h).
    bool Stage(CBandedImage& image, const std::filesystem::path& folder, std::string_view extension,
               const ImageWriteOptions& options, std::string& error);
    bool IsStaged() const { return m_staged.Exists(); }

    // Names the staged file `target`. NameTaken leaves it staged for another
    // name; Failed gives the reason in `error`.
    PublishResult Publish(const std::filesystem::path& target, std::string& error);

    // Names the staged file `target`, replacing a file of that name (not a
    // folder) as an ordinary save does. False with the reason in `error`.
    bool PublishReplacing(const std::filesystem::path& target, std::string& error);

    // Removes an unpublished staged file.
    void Discard();

private:
    template <class Encode>
    bool StageEncoded(const std::filesystem::path& folder, std::string_view extension, std::string& error,
                      Encode&& encode);

    CStagingEntry m_staged;
};

}  // namespace skelvane
