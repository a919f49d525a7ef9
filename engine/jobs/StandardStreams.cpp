#include "engine/jobs/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace skelvane {

bool ReopenClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lower descriptors are open by now, so this one is the lowest
        // free number, which is what open() gives.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0) {
                close(opened);
            }
            return false;
        }
    }
    return true;
}

}  // namespace skelvane
