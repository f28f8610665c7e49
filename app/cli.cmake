# qvr, the Linux command-line tool: the probe and the panel behind a terminal front end.
if(NOT WIN32)
  find_package(nlohmann_json 3.10 REQUIRED)
  add_library(qvr_cli_options STATIC ${CMAKE_CURRENT_LIST_DIR}/cli_options.cpp)
  target_include_directories(qvr_cli_options PUBLIC ${CMAKE_CURRENT_LIST_DIR})

  add_executable(qvr ${CMAKE_CURRENT_LIST_DIR}/qvr_cli.cpp)
  target_link_libraries(qvr PRIVATE qvr_cli_options qvr_probe qvr_panel nlohmann_json::nlohmann_json)
  target_compile_definitions(qvr PRIVATE QVR_VERSION_SHORT="${QVR_VERSION_SHORT}")
endif()
