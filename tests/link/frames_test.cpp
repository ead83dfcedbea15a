#include <gtest/gtest.h>

#include "lyralink/link/frames.h"

using namespace lyralink::link;

TEST(Frames, DeviceErrorWordsMapToStatus) {
  EXPECT_EQ(device_error_status(0xAAAB), 2);
}
