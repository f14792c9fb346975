# SPDX-License-Identifier: MIT
# The Windows build (cross-built by tools/windows): the panel as a windowed program with its icon, and the
# core's pure tests, which tests/windows runs under Wine.

# Our Windows calls are the ANSI ones (...A, OPENFILENAME as OPENFILENAMEA), as in the program the panel
# stands in for; Qt would switch the generic names to the wide calls.
foreach(target merovask_core merovask_panel merovask)
  qt_disable_unicode_defines(${target})
endforeach()
target_link_libraries(merovask_panel PUBLIC comdlg32)
# No console window beside the panel.
set_target_properties(merovask PROPERTIES WIN32_EXECUTABLE ON)

# Explorer's icon for the program, which Qt also gives the window (resource IDI_ICON1): the window icon in
# SVG would need Qt's SVG module, which is not built for Windows here.
find_program(MEROVASK_RSVG rsvg-convert REQUIRED)
find_program(MEROVASK_CONVERT convert REQUIRED)
set(icon_pngs)
foreach(size 16 24 32 48 64 256)
  set(png ${CMAKE_CURRENT_BINARY_DIR}/icon/merovask-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icon
    COMMAND ${MEROVASK_RSVG} -w ${size} -h ${size} -o ${png} ${PROJECT_SOURCE_DIR}/dist/merovask.svg
    DEPENDS ${PROJECT_SOURCE_DIR}/dist/merovask.svg VERBATIM)
  list(APPEND icon_pngs ${png})
endforeach()
set(icon ${CMAKE_CURRENT_BINARY_DIR}/icon/merovask.ico)
add_custom_command(OUTPUT ${icon} COMMAND ${MEROVASK_CONVERT} ${icon_pngs} ${icon} DEPENDS ${icon_pngs} VERBATIM)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/icon/merovask.rc "IDI_ICON1 ICON \"${icon}\"\n")
# The program is defined in src/panel: the icon is made here, before it, and its resource compiled there.
add_custom_target(merovask_ico DEPENDS ${icon})
add_dependencies(merovask merovask_ico)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/icon/merovask.rc TARGET_DIRECTORY merovask
  PROPERTIES OBJECT_DEPENDS ${icon})
target_sources(merovask PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/icon/merovask.rc)

if(BUILD_TESTING)
  add_subdirectory(tests/windows)
endif()
