# libsodium, for the feature list's signature, as an imported static
# library "sodium": Debian's libsodium.a on Linux, so that the packages need
# no libsodium on the user's system; on Windows the build of Debian's source
# in FIRSTLOAD_SODIUM_PREFIX (scripts/build-windows).
if(WIN32)
  set(FIRSTLOAD_SODIUM_PREFIX "" CACHE PATH "Where scripts/build-windows installed libsodium")
  find_library(FIRSTLOAD_SODIUM_ARCHIVE NAMES libsodium.a PATHS "${FIRSTLOAD_SODIUM_PREFIX}/lib"
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  set(sodium_include "${FIRSTLOAD_SODIUM_PREFIX}/include")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED libsodium)
  find_library(FIRSTLOAD_SODIUM_ARCHIVE NAMES libsodium.a HINTS ${SODIUM_LIBRARY_DIRS})
  set(sodium_include "${SODIUM_INCLUDE_DIRS}")
endif()
if(NOT FIRSTLOAD_SODIUM_ARCHIVE)
  message(FATAL_ERROR "No static libsodium (libsodium.a) found")
endif()
add_library(sodium STATIC IMPORTED)
set_target_properties(sodium PROPERTIES IMPORTED_LOCATION "${FIRSTLOAD_SODIUM_ARCHIVE}")
if(sodium_include)
  set_target_properties(sodium PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${sodium_include}")
endif()
if(WIN32)
  # Declarations without dllimport, for the static library.
  set_target_properties(sodium PROPERTIES INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
endif()
