# The source-built dependencies live in a cache outside the work tree,
# filled by scripts/bootstrap. Each becomes one imported target.
set(OMBRI_DEPS_DIR "$ENV{OMBRI_DEPS_DIR}" CACHE PATH "Cache of source-built dependencies")
if(NOT OMBRI_DEPS_DIR)
  set(OMBRI_DEPS_DIR /var/cache/ombri-deps CACHE PATH "" FORCE)
endif()
# ombri::whisper and ombri::rnnoise are defined here (filled in by the dependency build).
