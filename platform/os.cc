#include "platform/os.h"

namespace os {
namespace {
Os* g_current = nullptr;
}  // namespace

Os& Current() { return g_current ? *g_current : Native(); }

ScopedOs::ScopedOs(Os& replacement) : previous_(g_current) { g_current = &replacement; }

ScopedOs::~ScopedOs() { g_current = previous_; }

}  // namespace os
