#pragma once
// Owner of one GObject reference (a libvips image or source).

#include <utility>

namespace ombri_image {

void releaseGObject(void* object);
void* retainGObject(void* object);

template <class T>
class GObjectRef {
 public:
  GObjectRef() = default;
  explicit GObjectRef(T* object) : object_(object) {}
  GObjectRef(GObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GObjectRef& operator=(GObjectRef&& other) noexcept {
    reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
  ~GObjectRef() { reset(); }

  void reset(T* object = nullptr) {
    if (object_ != nullptr) releaseGObject(object_);
    object_ = object;
  }
  // A second reference to the same object.
  GObjectRef share() const {
    return GObjectRef(object_ == nullptr ? nullptr : static_cast<T*>(retainGObject(object_)));
  }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace ombri_image
