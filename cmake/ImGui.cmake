# Dear ImGui 1.86 with its GLFW and OpenGL 3 backends, for the launcher's window, as the target
# brassmoor_imgui: Debian's libimgui-dev on Linux; on Windows the same sources from Debian's imgui
# source package, built static with mingw-w64 by scripts/build-windows.sh.
if(WIN32)
  set(BRASSMOOR_IMGUI_PREFIX "" CACHE PATH "Dear ImGui built for Windows (scripts/build-windows.sh)")
  set(imgui_library ${BRASSMOOR_IMGUI_PREFIX}/lib/libimgui.a)
  if(NOT EXISTS ${imgui_library})
    message(FATAL_ERROR "no Dear ImGui for Windows at '${BRASSMOOR_IMGUI_PREFIX}': build with scripts/build-windows.sh")
  endif()
  add_library(brassmoor_imgui STATIC IMPORTED)
  set_target_properties(brassmoor_imgui PROPERTIES
    IMPORTED_LOCATION ${imgui_library}
    # As on Linux: <imgui.h> and <backends/imgui_impl_glfw.h>, or the backends' headers by name.
    INTERFACE_INCLUDE_DIRECTORIES "${BRASSMOOR_IMGUI_PREFIX}/include/imgui;${BRASSMOOR_IMGUI_PREFIX}/include/imgui/backends"
    # The GLFW backend calls the project's static GLFW; ImGui's IME support calls imm32.
    INTERFACE_LINK_LIBRARIES "glfw;imm32")
else()
  find_package(PkgConfig REQUIRED)
  find_package(OpenGL REQUIRED COMPONENTS OpenGL)
  pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
  add_library(brassmoor_imgui INTERFACE)
  target_link_libraries(brassmoor_imgui INTERFACE PkgConfig::IMGUI glfw OpenGL::GL ${CMAKE_DL_LIBS})
endif()
