# SPDX-License-Identifier: MIT
# How tools/windows configures Debian's qtbase 6.4.2 source for MinGW (loaded with cmake -C). Only what the
# panel and its tests use; the host tools (moc, uic, rcc) come from qt6-base-dev. Changing this file, the
# toolchain file or the source version makes tools/windows build Qt again.
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
set(QT_BUILD_EXAMPLES OFF CACHE BOOL "")
set(QT_BUILD_TESTS OFF CACHE BOOL "")

# Self-contained: the bundled copies, nothing from the MinGW tree.
foreach(lib zlib png jpeg freetype harfbuzz pcre2 doubleconversion)
  set(FEATURE_system_${lib} OFF CACHE BOOL "")
endforeach()

# 6.4.2's Windows platform plugin does not compile without OpenGL.
set(INPUT_opengl desktop CACHE STRING "")
# Debian's source lacks the tablet header (wintab.h).
set(FEATURE_tabletevent OFF CACHE BOOL "")

foreach(feature dbus sql network icu printsupport concurrent xml vulkan)
  set(FEATURE_${feature} OFF CACHE BOOL "")
endforeach()
