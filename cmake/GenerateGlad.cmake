# Generates the OpenGL loader at build time with Debian's glad generator:
# core profile, every version up to 4.6, every extension, no network access.
find_program(GLAD_EXECUTABLE glad REQUIRED
  DOC "glad loader generator (Debian package python3-glad)")

set(GLAD_OUT_DIR ${CMAKE_BINARY_DIR}/glad)
add_custom_command(
  OUTPUT ${GLAD_OUT_DIR}/src/gl.c ${GLAD_OUT_DIR}/include/glad/gl.h ${GLAD_OUT_DIR}/include/KHR/khrplatform.h
  COMMAND ${GLAD_EXECUTABLE} --api gl:core=4.6 --reproducible --quiet --out-path ${GLAD_OUT_DIR} c
  COMMENT "Generating the OpenGL loader with glad"
  VERBATIM)

add_library(glad STATIC ${GLAD_OUT_DIR}/src/gl.c ${GLAD_OUT_DIR}/include/glad/gl.h)
target_include_directories(glad PUBLIC ${GLAD_OUT_DIR}/include)
set_target_properties(glad PROPERTIES POSITION_INDEPENDENT_CODE ON)
find_library(DL_LIBRARY dl)
if(DL_LIBRARY)
  target_link_libraries(glad PUBLIC ${DL_LIBRARY})
endif()
