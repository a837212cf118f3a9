# Dear ImGui for the launcher's window, as the target brassmoor_imgui (headers, the GLFW and OpenGL 3
# backends, GL). On Linux it is Debian's libimgui-dev, whose static library holds both backends.
if(WIN32)
  # Windows: Dear ImGui built from Debian's source package by scripts/build-windows.sh.
  message(FATAL_ERROR "brassmoor_imgui: the Windows build of Dear ImGui is not set up yet")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(BRASSMOOR_IMGUI REQUIRED IMPORTED_TARGET imgui)
  find_package(OpenGL REQUIRED)
  add_library(brassmoor_imgui INTERFACE)
  target_link_libraries(brassmoor_imgui INTERFACE PkgConfig::BRASSMOOR_IMGUI glfw OpenGL::GL ${CMAKE_DL_LIBS})
endif()
