#include "gobject_ref.hpp"

#include <glib-object.h>

namespace ombri_image {

void releaseGObject(void* object) { g_object_unref(object); }

void* retainGObject(void* object) { return g_object_ref(object); }

}  // namespace ombri_image
