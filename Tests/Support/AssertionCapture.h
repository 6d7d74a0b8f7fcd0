#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace TestSupport {

/// Makes any internal check that fails outside an AssertionCapture fail the running test.
void InstallFailingAssertionHandler();

/// Records failed internal checks while it lives instead of failing the test.
class AssertionCapture {
public:
    struct Report {
        std::string expression;
        std::string file;
        int line = 0;
        std::string message;
    };

    AssertionCapture();
    ~AssertionCapture();
    AssertionCapture(const AssertionCapture&) = delete;
    AssertionCapture& operator=(const AssertionCapture&) = delete;

    std::vector<Report> GetReports() const;
    std::vector<std::string> GetMessages() const;
};

} // namespace TestSupport
