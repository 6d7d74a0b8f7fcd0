// Test entry point shared by every suite: an internal check that fails during a test is a test
// failure unless the test captures it on purpose with AssertionCapture.

#include "Support/AssertionCapture.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    TestSupport::InstallFailingAssertionHandler();
    return RUN_ALL_TESTS();
}
