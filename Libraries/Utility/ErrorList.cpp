#include "Utility/ErrorList.h"

#include "Utility/Format.h"

#include <cstdarg>

namespace Serialization {

void ErrorList::Add(EErrorCode code, std::string message)
{
    mErrors.push_back({code, mContexts.empty() ? std::string() : mContexts.back(), std::move(message)});
}

void ErrorList::AddFormatted(EErrorCode code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = Utility::FormatV(format, args);
    va_end(args);
    Add(code, std::move(message));
}

void ErrorList::PushContext(std::string context)
{
    mContexts.push_back(std::move(context));
}

void ErrorList::PopContext()
{
    if (!mContexts.empty())
        mContexts.pop_back();
}

std::string ErrorList::ToString() const
{
    std::string text;
    for (const ErrorRecord& record : mErrors) {
        if (!text.empty())
            text += '\n';
        if (!record.context.empty() && record.message.find(record.context) == std::string::npos) {
            text += record.context;
            text += ": ";
        }
        text += record.message;
    }
    return text;
}

} // namespace Serialization
