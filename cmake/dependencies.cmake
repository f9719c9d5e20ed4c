# The source-built dependencies live in a cache outside the work tree,
# filled by scripts/bootstrap. Each becomes one imported target.
set(OMBRI_DEPS_DIR "$ENV{OMBRI_DEPS_DIR}" CACHE PATH "Cache of source-built dependencies")
if(NOT OMBRI_DEPS_DIR)
  set(OMBRI_DEPS_DIR /var/cache/ombri-deps CACHE PATH "" FORCE)
endif()

# NAME=value lines; the cache entries are named by the versions.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/dependency-versions.env version_lines REGEX "^[A-Z_]+=")
foreach(line IN LISTS version_lines)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ "${line}")
  set(OMBRI_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
string(REGEX REPLACE "\\+.*" "" obs_upstream_version "${OMBRI_OBS_SOURCE_VERSION}")
set(OMBRI_WHISPER_DIR ${OMBRI_DEPS_DIR}/whisper.cpp-${OMBRI_WHISPER_VERSION})
set(OMBRI_RNNOISE_DIR ${OMBRI_DEPS_DIR}/rnnoise-obs-${obs_upstream_version})

# bootstrap writes the stamp last, so a present stamp means a complete entry.
foreach(dependency_dir IN ITEMS ${OMBRI_WHISPER_DIR} ${OMBRI_RNNOISE_DIR})
  if(NOT EXISTS ${dependency_dir}/.built)
    message(FATAL_ERROR "${dependency_dir} is missing or incomplete: run scripts/bootstrap "
      "(as root; OMBRI_DEPS_DIR chooses the cache, default /var/cache/ombri-deps)")
  endif()
endforeach()

# Imported include directories count as system headers, so the libraries'
# own headers stay out of our -Wall -Wextra.
function(ombri_import_static_library target library_file)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${library_file}
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

# ggml's BLAS backend calls Debian's OpenMP build of OpenBLAS, linked in
# statically so that no system-wide BLAS selection or library path swaps it.
# Its threads are OpenMP's: started by the first matrix product of a
# transcription and ended with the worker thread that ran it, so an idle
# listener has none. The pthreads build starts a thread per core as it loads,
# spinning at first, and keeps them for the life of the process. Measured with
# transcribe_bench, the OpenMP build also takes 20 to 60 % less time than the
# pthreads one, whose threads compete with ggml's for the cores; the
# single-threaded build is slower than either on larger models (24 % slower
# than pthreads at state 768, 12 layers); and ggml itself on OpenMP, faster
# still, makes ThreadSanitizer runs crawl: every memcpy on its OpenMP threads
# looks like a race.
find_package(OpenMP REQUIRED COMPONENTS C)
find_library(OMBRI_OPENBLAS_OPENMP libopenblas.a
  PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/openblas-openmp NO_DEFAULT_PATH REQUIRED)
ombri_import_static_library(ombri_openblas ${OMBRI_OPENBLAS_OPENMP} ${OpenMP_C_LIBRARIES} m)

set(whisper_lib ${OMBRI_WHISPER_DIR}/lib)
ombri_import_static_library(ombri_ggml_base ${whisper_lib}/libggml-base.a Threads::Threads m ${CMAKE_DL_LIBS})
ombri_import_static_library(ombri_ggml_cpu ${whisper_lib}/libggml-cpu.a ombri_ggml_base)
ombri_import_static_library(ombri_ggml_blas ${whisper_lib}/libggml-blas.a ombri_ggml_base ombri_openblas)
ombri_import_static_library(ombri_ggml ${whisper_lib}/libggml.a
  ombri_ggml_cpu ombri_ggml_blas ombri_ggml_base ${CMAKE_DL_LIBS})
ombri_import_static_library(ombri::whisper ${whisper_lib}/libwhisper.a ombri_ggml)
set_target_properties(ombri::whisper PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${OMBRI_WHISPER_DIR}/include)

ombri_import_static_library(ombri::rnnoise ${OMBRI_RNNOISE_DIR}/lib/librnnoise.a m)
set_target_properties(ombri::rnnoise PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${OMBRI_RNNOISE_DIR}/include)
