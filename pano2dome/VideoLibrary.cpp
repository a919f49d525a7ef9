#include "pano2dome/VideoLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace skelvane {

const VideoLibrary* LoadVideoLibrary(std::string* error)
{
    static std::once_flag once;
    static const VideoLibrary* library = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        // Found through the programs' run path: the build's lib folder, or
        // the installed one beside bin. Never unloaded: pass writers and the
        // libraries' threads may outlive any one encoder.
        void* handle = dlopen(kVideoLibraryFileName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            failure = std::string("cannot load the video encoders: ") + (why ? why : kVideoLibraryFileName);
            return;
        }
        auto entry = reinterpret_cast<VideoLibraryEntry>(dlsym(handle, kVideoLibraryEntryName));
        library = entry ? entry() : nullptr;
        if (!library) {
            failure = std::string("cannot load the video encoders: ") + kVideoLibraryFileName + " has no " +
                      kVideoLibraryEntryName;
        }
    });
    if (!library && error) {
        *error = failure;
    }
    return library;
}

}  // namespace skelvane
