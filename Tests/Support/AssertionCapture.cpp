#include "Support/AssertionCapture.h"

#include "Utility/Assert.h"

#include <gtest/gtest.h>

namespace TestSupport {
namespace {

std::mutex gMutex;
int gCaptureDepth = 0;
std::vector<AssertionCapture::Report> gReports;

void Handle(const char* expression, const char* file, int line, const char* message)
{
    {
        std::lock_guard lock(gMutex);
        if (gCaptureDepth > 0) {
            gReports.push_back({expression, file, line, message});
            return;
        }
    }
    ADD_FAILURE_AT(file, line) << "internal check failed: \"" << expression << "\": " << message;
}

} // namespace

void InstallFailingAssertionHandler()
{
    Utility::SetAssertionHandler(&Handle);
}

AssertionCapture::AssertionCapture()
{
    std::lock_guard lock(gMutex);
    if (gCaptureDepth++ == 0)
        gReports.clear();
}

AssertionCapture::~AssertionCapture()
{
    std::lock_guard lock(gMutex);
    --gCaptureDepth;
}

std::vector<AssertionCapture::Report> AssertionCapture::GetReports() const
{
    std::lock_guard lock(gMutex);
    return gReports;
}

std::vector<std::string> AssertionCapture::GetMessages() const
{
    std::vector<std::string> messages;
    for (const Report& report : GetReports())
        messages.push_back(report.message);
    return messages;
}

} // namespace TestSupport
