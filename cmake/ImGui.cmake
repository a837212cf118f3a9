# Dear ImGui for the launcher's window, as the target brassmoor_imgui (headers, the GLFW and OpenGL 3
# backends, GL). On Linux it is Debian's libimgui-dev, whose static library holds both backends; on
# Windows the same 1.86 sources from Debian's imgui source package, built static with mingw-w64 by
# scripts/build-windows.sh.
if(WIN32)
  set(BRASSMOOR_IMGUI_PREFIX "" CACHE PATH "Dear ImGui built for Windows (scripts/build-windows.sh)")
  set(imgui_library ${BRASSMOOR_IMGUI_PREFIX}/lib/libimgui.a)
  if(NOT EXISTS ${imgui_library})
    message(FATAL_ERROR "no Dear ImGui for Windows at '${BRASSMOOR_IMGUI_PREFIX}': build with scripts/build-windows.sh")
  endif()
  add_library(brassmoor_imgui STATIC IMPORTED)
  set_target_properties(brassmoor_imgui PROPERTIES
    IMPORTED_LOCATION ${imgui_library}
    # As on Linux: <imgui.h> and <backends/imgui_impl_glfw.h>.
    INTERFACE_INCLUDE_DIRECTORIES ${BRASSMOOR_IMGUI_PREFIX}/include/imgui
    # The GLFW backend calls the project's static GLFW; the OpenGL 3 backend loads GL itself, and
    # opengl32 is for the window's own few GL 1.1 calls, as OpenGL::GL is on Linux. (Built with
    # mingw, ImGui leaves out its IME calls, so imm32 is not needed.)
    INTERFACE_LINK_LIBRARIES "glfw;opengl32")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(BRASSMOOR_IMGUI REQUIRED IMPORTED_TARGET imgui)
  find_package(OpenGL REQUIRED)
  add_library(brassmoor_imgui INTERFACE)
  target_link_libraries(brassmoor_imgui INTERFACE PkgConfig::BRASSMOOR_IMGUI glfw OpenGL::GL ${CMAKE_DL_LIBS})
endif()
