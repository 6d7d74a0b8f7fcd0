#include "Utility/ErrorList.h"
#include "Utility/Format.h"

#include <gtest/gtest.h>

namespace {

using Serialization::EErrorCode;
using Serialization::ErrorList;

TEST(ErrorList, RecordsCarryTheInnermostContext)
{
    ErrorList errors;
    errors.Add(EErrorCode::Corrupt, "outside");
    {
        ErrorList::ContextScope outer(errors, "/a/Session.dat");
        {
            ErrorList::ContextScope inner(errors, "/a/Model.dat");
            errors.AddFormatted(EErrorCode::FileNotFound, "The file %s does not exist", "/a/Model.dat");
        }
        errors.Add(EErrorCode::Compatibility, "after inner");
    }
    errors.PopContext(); // popping an empty stack is harmless

    ASSERT_EQ(errors.GetCount(), 3u);
    EXPECT_EQ(errors.GetErrors()[0].context, "");
    EXPECT_EQ(errors.GetErrors()[1].context, "/a/Model.dat");
    EXPECT_EQ(errors.GetErrors()[1].code, EErrorCode::FileNotFound);
    EXPECT_EQ(errors.GetErrors()[2].context, "/a/Session.dat");
    // The context is not repeated when the message already names it.
    EXPECT_EQ(errors.ToString(),
              "outside\nThe file /a/Model.dat does not exist\n/a/Session.dat: after inner");
}

TEST(Format, FormatsLikePrintfAndHandlesLongText)
{
    EXPECT_EQ(Utility::Format("%d-%s", 42, "x"), "42-x");
    EXPECT_EQ(Utility::Format("%s", ""), "");
    const std::string big(5000, 'q');
    EXPECT_EQ(Utility::Format("<%s>", big.c_str()).size(), 5002u);
}

} // namespace
