#pragma once
// Which simulated world the layer talks to: the one a test installed, else
// one loaded once from the file an environment variable names, else the
// standard one.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/result.hpp"

namespace ombri::sim {

template <class World>
std::atomic<World*>& installed_world() {
  static std::atomic<World*> world{nullptr};
  return world;
}

template <class World, class Spec>
World& current_world(const char* variable, Result<Spec> (*load)(const std::string&)) {
  if (World* world = installed_world<World>().load(std::memory_order_acquire)) return *world;
  // A broken world file is a mistake of whoever set it up: say so and stop
  // rather than run on hardware or calendars nobody described.
  static const std::unique_ptr<World> world = [&] {
    const char* path = std::getenv(variable);
    if (!path || !*path) return std::make_unique<World>(Spec::standard());
    auto spec = load(path);
    if (!spec) {
      std::fprintf(stderr, "%s=%s: %s\n", variable, path, spec.error().c_str());
      std::_Exit(78);
    }
    return std::make_unique<World>(std::move(*spec));
  }();
  return *world;
}

// Makes a world current for its lifetime; the one before comes back after.
template <class World, class Spec>
class ScopedWorld {
 public:
  explicit ScopedWorld(Spec spec = Spec::standard())
      : world_(std::make_unique<World>(std::move(spec))),
        previous_(installed_world<World>().exchange(world_.get(), std::memory_order_acq_rel)) {}
  ~ScopedWorld() { installed_world<World>().store(previous_, std::memory_order_release); }
  ScopedWorld(const ScopedWorld&) = delete;
  ScopedWorld& operator=(const ScopedWorld&) = delete;

  World& operator*() { return *world_; }
  World* operator->() { return world_.get(); }

 private:
  std::unique_ptr<World> world_;
  World* previous_;
};

}  // namespace ombri::sim
