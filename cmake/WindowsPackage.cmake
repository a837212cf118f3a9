# The Windows release: the two programs, stripped, and README.txt in one zip named after the
# project's version. Built by the target windows_zip (scripts/build-windows.sh).
set(BRASSMOOR_ZIP_FOLDER brassmoor-${PROJECT_VERSION}-win64)
set(BRASSMOOR_ZIP_NAME ${BRASSMOOR_ZIP_FOLDER}.zip)
set(package_dir ${CMAKE_BINARY_DIR}/package)
set(stage_dir ${package_dir}/${BRASSMOOR_ZIP_FOLDER})

# CR LF line ends, so that Notepad shows the lines as lines.
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-README.txt.in ${package_dir}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
# The script that copies the zip into dist/ learns its name from here.
file(WRITE ${package_dir}/zip-name.txt "${BRASSMOOR_ZIP_NAME}\n")

add_custom_command(
  OUTPUT ${package_dir}/${BRASSMOOR_ZIP_NAME}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage_dir} ${package_dir}/${BRASSMOOR_ZIP_NAME}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage_dir}
  COMMAND ${CMAKE_STRIP} -o ${stage_dir}/brassmoor.exe $<TARGET_FILE:brassmoor>
  COMMAND ${CMAKE_STRIP} -o ${stage_dir}/brassmoor-server.exe $<TARGET_FILE:brassmoor-server>
  COMMAND ${CMAKE_COMMAND} -E copy ${package_dir}/README.txt ${stage_dir}/README.txt
  COMMAND ${CMAKE_COMMAND} -E tar cf ${BRASSMOOR_ZIP_NAME} --format=zip ${BRASSMOOR_ZIP_FOLDER}
  WORKING_DIRECTORY ${package_dir}
  DEPENDS brassmoor brassmoor-server ${package_dir}/README.txt
  COMMENT "Writing ${BRASSMOOR_ZIP_NAME}"
  VERBATIM)
add_custom_target(windows_zip DEPENDS ${package_dir}/${BRASSMOOR_ZIP_NAME})
