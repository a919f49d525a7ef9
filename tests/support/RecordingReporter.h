// A reporter that keeps every message a single-threaded test provokes.
#pragma once

#include <string>
#include <vector>

#include "engine/jobs/MessageReporter.h"

namespace skelvane::test {

class RecordingReporter final : public CMessageReporter {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

}  // namespace skelvane::test
