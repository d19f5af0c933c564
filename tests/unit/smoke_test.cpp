#include "app/app.h"
#include "stub.h"

#include <gtest/gtest.h>

TEST(Smoke, UsageBox)
{
    stub::Reset();
    char text[] = "-?";
    EXPECT_EQ(0, WinMain(nullptr, nullptr, text, 0));
    ASSERT_EQ(1u, stub::MessageBoxes().size());
    EXPECT_EQ("Usage", stub::MessageBoxes()[0].caption);
}
