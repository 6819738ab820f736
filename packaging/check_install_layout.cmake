# Installs a build folder into a staging folder (prefix /usr, as the package does) and checks
# that exactly the expected files land there, and that an installed talkgatectl takes its demo
# images from the installed data folder rather than from the source tree. Run as:
#   cmake -DBUILD_DIR=... -DSTAGE=... -DSOURCE_DIR=... -DGUI=ON|OFF -P check_install_layout.cmake

cmake_minimum_required(VERSION 3.25)

foreach(var BUILD_DIR STAGE SOURCE_DIR GUI)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_install_layout.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${STAGE}"
          ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix /usr
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE install_errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}): ${install_errors}")
endif()

set(expected
    usr/bin/talkgatectl
    usr/lib/udev/rules.d/70-talkgate.rules
    usr/share/bash-completion/completions/talkgatectl
    usr/share/man/man1/talkgatectl.1.gz
    usr/share/talkgate-utility/demo-images/talkgate_fw_1.0.4.txt
    usr/share/talkgate-utility/demo-images/talkgate_fw_1.1.0.txt
    usr/share/applications/talkgate-demo.desktop
    usr/share/applications/talkgate-utility.desktop
    usr/share/icons/hicolor/scalable/apps/talkgate-utility.svg)
if(GUI)
  list(APPEND expected usr/bin/talkgate-demo usr/bin/talkgate-utility
       usr/share/talkgate-utility/Lumesk.jpg)
endif()

file(GLOB_RECURSE installed RELATIVE "${STAGE}" "${STAGE}/*")
set(problems "")
foreach(path IN LISTS expected)
  if(NOT path IN_LIST installed)
    string(APPEND problems "\n  missing: /${path}")
  endif()
endforeach()
foreach(path IN LISTS installed)
  if(NOT path IN_LIST expected)
    string(APPEND problems "\n  not expected: /${path}")
  endif()
endforeach()

# The installed rule is the one in the source tree, byte for byte.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E compare_files "${SOURCE_DIR}/packaging/70-talkgate.rules"
          "${STAGE}/usr/lib/udev/rules.d/70-talkgate.rules"
  RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  string(APPEND problems "\n  the installed udev rule differs from packaging/70-talkgate.rules")
endif()

# Put the 1.1.0 image under the 1.0.4 name in the staging folder only: a simulated Talkgate
# built from the installed images then reports 1.1.0, one built from the source tree 1.0.4.
set(images "${STAGE}/usr/share/talkgate-utility/demo-images")
if(EXISTS "${images}/talkgate_fw_1.1.0.txt")
  file(COPY_FILE "${images}/talkgate_fw_1.1.0.txt" "${images}/talkgate_fw_1.0.4.txt")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "HOME=${STAGE}/home" --unset=XDG_DATA_HOME
            "${STAGE}/usr/bin/talkgatectl" --simulate --json status
    WORKING_DIRECTORY "${STAGE}"
    RESULT_VARIABLE result OUTPUT_VARIABLE status ERROR_VARIABLE status_errors)
  if(NOT result EQUAL 0)
    string(APPEND problems "\n  installed talkgatectl --simulate status failed: ${status_errors}")
  elseif(NOT status MATCHES "\"firmware_version\": \"1\\.1\\.0\"")
    string(APPEND problems
           "\n  installed talkgatectl did not read its installed demo images:\n${status}")
  endif()
endif()

file(REMOVE_RECURSE "${STAGE}")
if(problems)
  message(FATAL_ERROR "Install layout:${problems}")
endif()
message(STATUS "Install layout as expected (${BUILD_DIR})")
