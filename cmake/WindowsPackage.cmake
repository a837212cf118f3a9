# The Windows release: the project's icon and version information compiled into every program,
# then the portable zip and the NSIS installer, both named after the project's version. Built by
# the target windows_release (scripts/build-windows.sh).
find_program(RSVG_CONVERT_EXECUTABLE rsvg-convert REQUIRED DOC "SVG renderer (Debian package librsvg2-bin)")
find_program(ICOTOOL_EXECUTABLE icotool REQUIRED DOC "Windows icon writer (Debian package icoutils)")
find_program(MAKENSIS_EXECUTABLE makensis REQUIRED DOC "NSIS installer compiler (Debian package nsis)")

set(package_dir ${CMAKE_BINARY_DIR}/package)
set(BRASSMOOR_RELEASE_NAME brassmoor-${PROJECT_VERSION}-win64)
set(BRASSMOOR_ZIP_NAME ${BRASSMOOR_RELEASE_NAME}.zip)
set(BRASSMOOR_INSTALLER_NAME ${BRASSMOOR_RELEASE_NAME}-setup.exe)
# What the zip unpacks to, and what the installer installs.
set(stage_dir ${package_dir}/${BRASSMOOR_RELEASE_NAME})

# The holder named in the Debian package's copyright file, so that both releases name the same one.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/linux/copyright copyright_line REGEX "^Copyright: " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright: " "" copyright_holder "${copyright_line}")
string(REGEX REPLACE "^[-0-9, ]+ " "" BRASSMOOR_PUBLISHER "${copyright_holder}")
set(BRASSMOOR_COPYRIGHT "Copyright (C) ${copyright_holder}")

# --- The icon: the SVG rendered at the sizes Windows asks for, in one .ico -------------------------

set(BRASSMOOR_ICON_FILE ${package_dir}/brassmoor.ico)
set(icon_pngs)
foreach(size 16 20 24 32 40 48 64 256)
  set(png ${package_dir}/icon/brassmoor-${size}.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${package_dir}/icon
    COMMAND ${RSVG_CONVERT_EXECUTABLE} --width ${size} --height ${size} --format png --output ${png}
            ${PROJECT_SOURCE_DIR}/packaging/linux/brassmoor.svg
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/linux/brassmoor.svg
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  # The largest is kept as PNG inside the .ico, as Windows' own icons do; the rest are bitmaps.
  if(size EQUAL 256)
    list(APPEND icon_pngs --raw=${png})
  else()
    list(APPEND icon_pngs ${png})
  endif()
  list(APPEND icon_png_files ${png})
endforeach()
add_custom_command(
  OUTPUT ${BRASSMOOR_ICON_FILE}
  COMMAND ${ICOTOOL_EXECUTABLE} --create --output ${BRASSMOOR_ICON_FILE} ${icon_pngs}
  DEPENDS ${icon_png_files}
  COMMENT "Writing brassmoor.ico"
  VERBATIM)
add_custom_target(windows_icon DEPENDS ${BRASSMOOR_ICON_FILE})

# --- Resources: the icon and a version resource in each program ------------------------------------

# Program, then the description that Explorer and Task Manager show for it.
set(windows_programs
  brassmoor-play "Brassmoor launcher: choose a game"
  brassmoor "Brassmoor"
  brassmoor-server "Brassmoor server"
  brassmoor-relay "Brassmoor network impairment relay")

set(shipped_programs)
while(windows_programs)
  list(POP_FRONT windows_programs BRASSMOOR_PROGRAM BRASSMOOR_FILE_DESCRIPTION)
  set(rc_file ${package_dir}/resources/${BRASSMOOR_PROGRAM}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc_file} @ONLY)
  target_sources(${BRASSMOOR_PROGRAM} PRIVATE ${rc_file})
  # The .rc names the icon by path only: windres must run again when the icon changes.
  set_source_files_properties(${rc_file} TARGET_DIRECTORY ${BRASSMOOR_PROGRAM}
                              PROPERTIES OBJECT_DEPENDS ${BRASSMOOR_ICON_FILE})
  add_dependencies(${BRASSMOOR_PROGRAM} windows_icon)
  list(APPEND shipped_programs ${BRASSMOOR_PROGRAM})
endwhile()

# --- The release folder, shared by the zip and the installer --------------------------------------

# CR LF line ends, so that Notepad shows the lines as lines.
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-README.txt.in ${package_dir}/README.txt @ONLY NEWLINE_STYLE CRLF)
# The script that copies the releases into dist/ learns their names from here.
file(WRITE ${package_dir}/zip-name.txt "${BRASSMOOR_ZIP_NAME}\n")
file(WRITE ${package_dir}/installer-name.txt "${BRASSMOOR_INSTALLER_NAME}\n")

set(stage_commands)
set(stage_files)
foreach(program IN LISTS shipped_programs)
  list(APPEND stage_commands COMMAND ${CMAKE_STRIP} -o ${stage_dir}/${program}.exe $<TARGET_FILE:${program}>)
  list(APPEND stage_files ${stage_dir}/${program}.exe)
endforeach()
add_custom_command(
  OUTPUT ${stage_files} ${stage_dir}/README.txt
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage_dir}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage_dir}
  ${stage_commands}
  COMMAND ${CMAKE_COMMAND} -E copy ${package_dir}/README.txt ${stage_dir}/README.txt
  DEPENDS ${shipped_programs} ${package_dir}/README.txt
  COMMENT "Staging the release in ${BRASSMOOR_RELEASE_NAME}"
  VERBATIM)

add_custom_command(
  OUTPUT ${package_dir}/${BRASSMOOR_ZIP_NAME}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${BRASSMOOR_ZIP_NAME}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${BRASSMOOR_ZIP_NAME} --format=zip ${BRASSMOOR_RELEASE_NAME}
  WORKING_DIRECTORY ${package_dir}
  DEPENDS ${stage_files} ${stage_dir}/README.txt
  COMMENT "Writing ${BRASSMOOR_ZIP_NAME}"
  VERBATIM)

# --- The installer ----------------------------------------------------------------------------------

# The programs the firewall rule lets in: every one that hosts a game (the launcher hosts in its
# own process).
set(BRASSMOOR_HOSTING_PROGRAMS brassmoor-server.exe brassmoor-play.exe)
set(BRASSMOOR_INSTALL_FILES ${shipped_programs})
list(TRANSFORM BRASSMOOR_INSTALL_FILES APPEND .exe)
list(APPEND BRASSMOOR_INSTALL_FILES README.txt)
# The lists as NSIS lines, one !insertmacro line each: the script expands them where it needs them.
set(BRASSMOOR_NSIS_FILES "")
foreach(file IN LISTS BRASSMOOR_INSTALL_FILES)
  string(APPEND BRASSMOOR_NSIS_FILES "  !insertmacro \${ACTION} \"${file}\"\n")
endforeach()
set(BRASSMOOR_NSIS_HOSTING_PROGRAMS "")
foreach(program IN LISTS BRASSMOOR_HOSTING_PROGRAMS)
  string(APPEND BRASSMOOR_NSIS_HOSTING_PROGRAMS "  !insertmacro \${ACTION} \"${program}\"\n")
endforeach()
set(BRASSMOOR_STAGE_DIR ${stage_dir})
set(nsis_script ${package_dir}/brassmoor.nsi)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/brassmoor.nsi.in ${nsis_script} @ONLY)

add_custom_command(
  OUTPUT ${package_dir}/${BRASSMOOR_INSTALLER_NAME}
  COMMAND ${MAKENSIS_EXECUTABLE} -V2 -DOUTFILE=${package_dir}/${BRASSMOOR_INSTALLER_NAME} ${nsis_script}
  DEPENDS ${nsis_script} ${stage_files} ${stage_dir}/README.txt ${BRASSMOOR_ICON_FILE}
  COMMENT "Writing ${BRASSMOOR_INSTALLER_NAME}"
  VERBATIM)

# One target for both, so that the staging they share runs once: two targets would each run it,
# and a parallel build would empty the folder under the other.
add_custom_target(windows_release DEPENDS ${package_dir}/${BRASSMOOR_ZIP_NAME} ${package_dir}/${BRASSMOOR_INSTALLER_NAME})
