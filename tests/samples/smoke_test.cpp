#include <gtest/gtest.h>
TEST(A,B){ EXPECT_EQ(1,1); }
