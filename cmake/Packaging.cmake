# Install rules and release packages. Included last from the root CMakeLists.txt, so the targets exist.
#   win32 build:  cpack -> qvr-<version>-win32.zip (qvr.exe, qvrc.exe and readme.txt, no folder inside)
#   native build: cmake --install -> bin/qvr, share/man/man1/qvr.1.gz, share/doc/qvr/changelog.gz;
#                 cpack -> qvr_<version>_amd64.deb
# The version is the one project() sets in the root CMakeLists.txt.

set(QVR_DOC_DIR ${CMAKE_SOURCE_DIR}/app/doc)
set(QVR_PKG_DIR ${CMAKE_BINARY_DIR}/pkg)

set(CPACK_PACKAGE_NAME qvr)
set(CPACK_PACKAGE_VERSION ${QVR_VERSION_SHORT})
set(CPACK_PACKAGE_VENDOR "QVR developers")
set(CPACK_PACKAGE_CONTACT "QVR developers <qvr-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exact image information read from file headers")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  # Notepad reads UTF-8 with a byte order mark on every Windows, Japanese or not; without the mark,
  # older Notepad would take the file as the ANSI code page. CRLF keeps old Notepad's lines apart.
  configure_file(${QVR_DOC_DIR}/readme.txt.in ${QVR_PKG_DIR}/readme.lf.txt @ONLY)
  file(READ ${QVR_PKG_DIR}/readme.lf.txt qvr_readme)
  string(REPLACE "\n" "\r\n" qvr_readme "${qvr_readme}")
  string(ASCII 239 187 191 qvr_bom)
  file(WRITE ${QVR_PKG_DIR}/readme.txt "${qvr_bom}${qvr_readme}")

  foreach(program qvr qvrc)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION .)
    endif()
  endforeach()
  install(FILES ${QVR_PKG_DIR}/readme.txt DESTINATION .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(qvr_win_arch win32)
  else()
    set(qvr_win_arch win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME qvr-${QVR_VERSION_SHORT}-${qvr_win_arch})
  # Unpacked in place, the files land side by side; Explorer's "Extract all" adds the folder itself.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # The release build is already stripped; the zip carries exactly the bytes the build made.
  set(CPACK_STRIP_FILES OFF)
else()
  include(GNUInstallDirs)
  if(TARGET qvr)
    install(TARGETS qvr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  # Debian ships manual pages compressed with gzip -9n (no name or time stamp: reproducible).
  configure_file(${QVR_DOC_DIR}/qvr.1.in ${QVR_PKG_DIR}/qvr.1 @ONLY)
  add_custom_command(
    OUTPUT ${QVR_PKG_DIR}/qvr.1.gz
    COMMAND gzip -9 -n -k -f qvr.1
    DEPENDS ${QVR_PKG_DIR}/qvr.1
    WORKING_DIRECTORY ${QVR_PKG_DIR}
    COMMENT "Compressing the manual page"
    VERBATIM)
  # The changelog is kept by hand: a release names its version there too, and the check compares.
  add_custom_command(
    OUTPUT ${QVR_PKG_DIR}/changelog.gz
    COMMAND gzip -9 -n -c ${QVR_DOC_DIR}/changelog > changelog.gz
    DEPENDS ${QVR_DOC_DIR}/changelog
    WORKING_DIRECTORY ${QVR_PKG_DIR}
    COMMENT "Compressing the changelog")
  add_custom_target(qvr_docs ALL DEPENDS ${QVR_PKG_DIR}/qvr.1.gz ${QVR_PKG_DIR}/changelog.gz)
  install(FILES ${QVR_PKG_DIR}/qvr.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${QVR_PKG_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # CPack puts the summary line in front of this.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "qvr prints the name, type, size, pixel dimensions and colour depth of image\n"
    "files, reading only a few header bytes of each. It knows BMP, GIF, PNG, MNG,\n"
    "JPEG (JFIF), Pixia and RIF files, and prints text or one JSON object per file.")
  # Depends is computed by dpkg-shlibdeps from the libraries the binary links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # GIO names a file's type from the shared MIME database; without it every type reads alike.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS shared-mime-info)
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)
