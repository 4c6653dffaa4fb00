#include "store/RegistryEngine.h"

#include <atomic>

namespace kestrova {
namespace {
std::atomic<EngineFactory> g_factory{nullptr};
}

void SetEngineFactory(EngineFactory factory) { g_factory.store(factory); }

std::shared_ptr<RegistryEngine> AcquireEngine() {
  const EngineFactory factory = g_factory.load();
  if (!factory) throw StoreOpenError("No store has been opened.");
  return factory();
}

}  // namespace kestrova
