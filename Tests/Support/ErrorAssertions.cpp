#include "Support/ErrorAssertions.h"

namespace TestSupport {

testing::AssertionResult LastErrorIs(const Serialization::ErrorList& errors, Serialization::EErrorCode code,
                                     const std::string& message)
{
    if (errors.IsEmpty())
        return testing::AssertionFailure() << "no error records";
    const Serialization::ErrorRecord& record = errors.GetErrors().back();
    if (record.code != code || record.message != message)
        return testing::AssertionFailure()
               << "code " << static_cast<int>(record.code) << ": " << record.message;
    return testing::AssertionSuccess();
}

testing::AssertionResult HasOnlyError(const Serialization::ErrorList& errors, Serialization::EErrorCode code,
                                      const std::string& message)
{
    if (errors.GetCount() != 1)
        return testing::AssertionFailure() << errors.GetCount() << " error records: " << errors.ToString();
    return LastErrorIs(errors, code, message);
}

} // namespace TestSupport
