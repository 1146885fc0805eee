// The public header stands alone (also as C, see public_header_check.c) and its records have
// the sizes its comments promise.
#include "zov/zovcod32.h"

#include <gtest/gtest.h>

extern "C" int zovPublicHeaderStyleSize(void);

TEST(PublicHeader, RecordsKeepTheirPackedLayout) {
  EXPECT_EQ(zovPublicHeaderStyleSize(), 78) << "as seen from C";
  EXPECT_EQ(sizeof(ZOVReadOnly), 20u);
  EXPECT_EQ(sizeof(ZOVRect), 16u);
  EXPECT_EQ(offsetof(ZOVStyle, brightness), 62u);
  EXPECT_EQ(offsetof(ZOVStyle, gamma), 66u);
}
