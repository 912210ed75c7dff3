#include "platform/os.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// A handle made under a test's fake is closed by that fake, also once the
// real backend is current again.
TEST(UniqueHandleTest, ClosesThroughTheBackendThatMadeIt) {
  struct RecordingOs : os::ForwardingOs {
    std::vector<os::Handle> closed;
    bool Close(os::Handle handle) override {
      closed.push_back(handle);
      return true;
    }
  } fake;
  os::UniqueHandle made, received, moved;
  {
    os::ScopedOs scoped(fake);
    made = os::UniqueHandle(4242);
    *received.receive() = 4343;
  }
  moved = std::move(made);
  moved.reset();
  received.reset();
  EXPECT_EQ(fake.closed, (std::vector<os::Handle>{4242, 4343}));
}

}  // namespace
