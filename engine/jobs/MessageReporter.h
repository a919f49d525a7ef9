// How the core tells a person about a failure it cannot return: the desktop
// program shows a message box (and the worker waits for it), the command line
// prints to the error stream. The core itself never shows anything.
#pragma once

#include <new>
#include <string>

namespace skelvane {

class CMessageReporter {
public:
    virtual ~CMessageReporter() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};

// Writes each message as a line on the standard error stream.
class CStderrReporter final : public CMessageReporter {
public:
    void ShowMessage(const std::string& text) override;
};

// The reporter used where a caller names none.
CMessageReporter& DefaultReporter();

// The standard report of an allocation failure.
inline constexpr const char* kOutOfMemoryText = "Out of memory.";

// Runs a map builder. An allocation failure is reported with the standard
// text; any failure gives the empty (null) result.
template <class Build>
auto ReportBuildFailures(CMessageReporter& reporter, Build&& build) -> decltype(build())
{
    try {
        return build();
    } catch (const std::bad_alloc&) {
        reporter.ShowMessage(kOutOfMemoryText);
    } catch (...) {
    }
    return {};
}

// Runs a renderer. An allocation failure is reported with the standard text,
// any other failure as "Render Failed!"; both give the empty (null) result.
template <class Render>
auto ReportRenderFailures(CMessageReporter& reporter, Render&& render) -> decltype(render())
{
    try {
        return render();
    } catch (const std::bad_alloc&) {
        reporter.ShowMessage(kOutOfMemoryText);
    } catch (...) {
        reporter.ShowMessage("Render Failed!");
    }
    return {};
}

}  // namespace skelvane
