#include "engine/jobs/MessageReporter.h"

#include <cstdio>

namespace skelvane {

void CStderrReporter::ShowMessage(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

CMessageReporter& DefaultReporter()
{
    static CStderrReporter reporter;
    return reporter;
}

}  // namespace skelvane
