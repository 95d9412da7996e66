#include <gtest/gtest.h>

#include "screening/ProcessingOptions.h"

namespace gatemoor {
namespace {

TEST(ProcessingOptions, DefaultHoldTimeAndIndependentCopies) {
    EXPECT_DOUBLE_EQ(CopyProcessingOptions().PurgatoryHoldDays, 10.0);
    TProcessingOptions copy = CopyProcessingOptions();
    copy.PurgatoryHoldDays = 1.5;
    EXPECT_DOUBLE_EQ(CopyProcessingOptions().PurgatoryHoldDays, 10.0)
        << "a copy is the caller's own";
    SetProcessingOptions(copy);
    EXPECT_DOUBLE_EQ(CopyProcessingOptions().PurgatoryHoldDays, 1.5);
    SetProcessingOptions({});
}

}  // namespace
}  // namespace gatemoor
