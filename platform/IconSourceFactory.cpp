#include "platform/IconSourceFactory.h"

#include <atomic>

#include "platform/IconSourceDesktop.h"

namespace kestrova {

namespace {
std::atomic<IconSourceFactory> g_factory{nullptr};
}  // namespace

void SetIconSourceFactory(IconSourceFactory factory) { g_factory.store(factory); }

std::shared_ptr<IconSource> AcquireIconSource() {
  if (const IconSourceFactory factory = g_factory.load()) return factory();
  return CreateDesktopIconSource();
}

}  // namespace kestrova
