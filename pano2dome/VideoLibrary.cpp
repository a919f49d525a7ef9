#include "pano2dome/VideoLibrary.h"

#include <dlfcn.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace skelvane {
namespace {

// The library from the folders the program's own run path names, tried in
// turn, then by name alone. A name alone is looked up along the run path of
// the object that calls dlopen, and a sanitizer's interceptor makes that
// object its own runtime, which has none.
void* OpenAlongTheProgramsRunPath(int flags)
{
    if (void* program = dlopen(nullptr, RTLD_NOW)) {
        Dl_serinfo size{};
        if (dlinfo(program, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
            std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
            auto* paths = reinterpret_cast<Dl_serinfo*>(storage.data());
            *paths = size;
            if (dlinfo(program, RTLD_DI_SERINFOSIZE, paths) == 0 && dlinfo(program, RTLD_DI_SERINFO, paths) == 0) {
                for (unsigned i = 0; i < paths->dls_cnt; ++i) {
                    const std::string path =
                        std::string(paths->dls_serpath[i].dls_name) + "/" + kVideoLibraryFileName;
                    if (void* handle = dlopen(path.c_str(), flags)) {
                        return handle;
                    }
                }
            }
        }
    }
    return dlopen(kVideoLibraryFileName, flags);
}

}  // namespace

const VideoLibrary* LoadVideoLibrary(std::string* error)
{
    static std::once_flag once;
    static const VideoLibrary* library = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        // Found through the programs' run path: the build's lib folder, or
        // the installed one beside bin. Never unloaded: pass writers and the
        // libraries' threads may outlive any one encoder.
        void* handle = OpenAlongTheProgramsRunPath(RTLD_NOW | RTLD_LOCAL);
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
