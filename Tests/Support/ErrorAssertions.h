#pragma once

#include "Utility/ErrorList.h"

#include <gtest/gtest.h>

#include <string>

namespace TestSupport {

/// Exactly one error record, with this code and message.
testing::AssertionResult HasOnlyError(const Serialization::ErrorList& errors, Serialization::EErrorCode code,
                                      const std::string& message);
/// The latest error record has this code and message; earlier records are not looked at.
testing::AssertionResult LastErrorIs(const Serialization::ErrorList& errors, Serialization::EErrorCode code,
                                     const std::string& message);

} // namespace TestSupport
