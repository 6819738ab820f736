# The Windows installation: the programs in bin\ with the Qt runtime beside them (windeployqt),
# the demo images in share\talkgate-utility\demo-images (found relative to the program), and a
# ZIP, plus an NSIS installer where NSIS is present.
if(TARGET talkgate_sim)
  install(FILES ${PROJECT_SOURCE_DIR}/sim/images/talkgate_fw_1.0.4.txt
                ${PROJECT_SOURCE_DIR}/sim/images/talkgate_fw_1.1.0.txt
          DESTINATION share/talkgate-utility/demo-images)
endif()
if(TALKGATE_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/keycodes/Lumesk.jpg DESTINATION bin)
  # windeployqt copies the Qt libraries and plug-ins the windows need next to the programs.
  find_program(TALKGATE_WINDEPLOYQT windeployqt HINTS ${Qt6_DIR}/../../../bin)
  if(TALKGATE_WINDEPLOYQT)
    install(CODE "
      foreach(program talkgate-utility.exe talkgate-demo.exe)
        if(EXISTS \"\${CMAKE_INSTALL_PREFIX}/bin/\${program}\")
          execute_process(COMMAND \"${TALKGATE_WINDEPLOYQT}\" --no-translations --no-compiler-runtime
                                  \"\${CMAKE_INSTALL_PREFIX}/bin/\${program}\" COMMAND_ERROR_IS_FATAL ANY)
        endif()
      endforeach()")
  else()
    message(WARNING "windeployqt not found: the package will lack the Qt runtime")
  endif()
endif()

set(CPACK_GENERATOR ZIP)
find_program(TALKGATE_MAKENSIS makensis)
if(TALKGATE_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
  set(CPACK_NSIS_DISPLAY_NAME "Talkgate Configuration Utility")
  set(CPACK_NSIS_PACKAGE_NAME "Talkgate Configuration Utility")
  set(CPACK_NSIS_MENU_LINKS "bin/talkgate-utility.exe" "Talkgate Configuration Utility"
                            "bin/talkgate-demo.exe" "Talkgate Demo")
  set(CPACK_NSIS_MODIFY_PATH ON)
endif()
set(CPACK_PACKAGE_NAME talkgate-utility)
set(CPACK_PACKAGE_VENDOR "Velkor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Talkgate Utility")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration utility for the Velkor Talkgate USB device")
set(CPACK_STRIP_FILES ON)
include(CPack)
