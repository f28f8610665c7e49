# The Windows program (both MinGW presets); natively, the generator of its icon.
set(QVR_APP_DIR ${CMAKE_CURRENT_LIST_DIR})

# The version block takes its numbers from the project version.
set(QVR_RC_DEFINES
  QVR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  QVR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  QVR_VERSION_PATCH=${PROJECT_VERSION_PATCH}
  QVR_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})

if(WIN32)
  enable_language(RC)
  # The resource script is UTF-8. The C++ options of the project (warnings, charsets) mean
  # nothing to windres, so the rule passes it only defines, include paths and the code page.
  set(CMAKE_RC_COMPILE_OBJECT
    "<CMAKE_RC_COMPILER> <DEFINES> <INCLUDES> -c 65001 -O coff <SOURCE> <OBJECT>")

  add_executable(qvr WIN32
    ${QVR_APP_DIR}/win_main.cpp
    ${QVR_APP_DIR}/main_dialog.cpp
    ${QVR_APP_DIR}/command_line.cpp
    ${QVR_APP_DIR}/no_file_record.cpp
    ${QVR_APP_DIR}/qvr.rc)
  target_include_directories(qvr PRIVATE ${QVR_APP_DIR})
  target_compile_definitions(qvr PRIVATE ${QVR_RC_DEFINES} WIN32_LEAN_AND_MEAN)
  set_source_files_properties(${QVR_APP_DIR}/qvr.rc PROPERTIES
    OBJECT_DEPENDS ${QVR_APP_DIR}/icon/qvr.ico)
  target_link_libraries(qvr PRIVATE qvr_panel qvr_probe qvr_text shell32)
  # Stand-alone and small: no runtime DLL beyond what Windows ships, no symbols, unused code dropped.
  target_compile_options(qvr PRIVATE -ffunction-sections -fdata-sections)
  target_link_options(qvr PRIVATE -static -s -Wl,--gc-sections)
elseif(NOT CMAKE_CROSSCOMPILING)
  # Draws the icon; its output is committed as icon/qvr.ico, and a test keeps the two in step.
  add_executable(qvr_make_icon ${QVR_APP_DIR}/icon/make_icon.cpp)
endif()
