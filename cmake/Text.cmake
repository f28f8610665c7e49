# All narrow literals are code page 932 bytes on every target; sources stay UTF-8.
# u8"" literals stay UTF-8 (tests and the Linux front end use them for terminal text).
add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP932)
