#include "gobject_ref.hpp"

#include <glib-object.h>

namespace ombri_image {

void releaseGObject(void* object) { g_object_unref(object); }

}  // namespace ombri_image
