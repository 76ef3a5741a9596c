# The Windows build: no Qt, no curl; the Win32 API and the C++ standard library only.
add_library(vantrel_warnings INTERFACE)
target_compile_options(vantrel_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)

# Windows 7 and later; the W functions throughout.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                        NOMINMAX)
# Small and self-contained: no unused sections, stripped outside debug builds.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-static -Wl,--gc-sections $<$<NOT:$<CONFIG:Debug>>:-s>)

add_subdirectory(src/core)
add_subdirectory(src/platform)
add_subdirectory(src/model)
add_subdirectory(src/windows)
add_subdirectory(packaging/windows)

if(VANTREL_BUILD_TESTS)
  enable_testing()
  # GoogleTest from Debian's sources, built with the cross compiler.
  set(VANTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${VANTREL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/windows)
  add_subdirectory(stress)
endif()
