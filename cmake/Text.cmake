# All narrow literals are code page 932 bytes on every target; sources stay UTF-8.
# u8"" literals stay UTF-8 (tests and the Linux front end use them for terminal text).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # clang knows no execution character set but UTF-8; only the fuzz build uses it, and the
  # fuzz target compares no text.
  add_compile_options(-finput-charset=UTF-8)
else()
  add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP932)
endif()
