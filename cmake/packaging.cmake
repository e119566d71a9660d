# Installation and the Debian package: the program, its manual page and its bash completion.
# `cmake --install <build>` installs them under CMAKE_INSTALL_PREFIX (or --prefix);
# `cpack -G DEB` in the build folder makes tapestamp_<version>_<arch>.deb for /usr.
# The frame generator make-dv is a development tool and is not installed.

include(GNUInstallDirs)

install(TARGETS tapestamp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The licences, in the machine-readable form Debian keeps beside every package's documents.
install(FILES doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page goes in compressed, as Debian keeps them.
find_program(TAPESTAMP_GZIP gzip REQUIRED)
set(tapestamp_manpage ${CMAKE_CURRENT_BINARY_DIR}/tapestamp.1.gz)
add_custom_command(
  OUTPUT ${tapestamp_manpage}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/doc/tapestamp.1 tapestamp.1
  COMMAND ${TAPESTAMP_GZIP} -9 -n -f tapestamp.1
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/tapestamp.1
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(tapestamp_manpage ALL DEPENDS ${tapestamp_manpage})
install(FILES ${tapestamp_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The bash completion goes where the bash-completion package looks for completions: its
# pkg-config variable completionsdir, taken relative to that package's own prefix so that it
# follows this install's prefix (and DESTDIR); for the prefix /usr that is the very
# directory. Without the package, the same standard place under the data directory.
set(TAPESTAMP_BASH_COMPLETION_DIR "" CACHE STRING
    "Directory for the bash completion (empty: from the bash-completion package)")
set(tapestamp_completion_dir ${TAPESTAMP_BASH_COMPLETION_DIR})
if(NOT tapestamp_completion_dir)
  set(tapestamp_completion_dir ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  pkg_get_variable(bash_completion_dir bash-completion completionsdir)
  pkg_get_variable(bash_completion_prefix bash-completion prefix)
  if(bash_completion_dir AND bash_completion_prefix)
    string(LENGTH "${bash_completion_prefix}/" prefix_length)
    string(SUBSTRING "${bash_completion_dir}" 0 ${prefix_length} dir_start)
    if(dir_start STREQUAL "${bash_completion_prefix}/")
      string(SUBSTRING "${bash_completion_dir}" ${prefix_length} -1 tapestamp_completion_dir)
    else()
      set(tapestamp_completion_dir ${bash_completion_dir})
    endif()
  endif()
endif()
message(STATUS "bash completion goes to ${tapestamp_completion_dir}")
install(FILES completion/tapestamp.bash DESTINATION ${tapestamp_completion_dir} RENAME tapestamp)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tapestamp)
set(CPACK_PACKAGE_VENDOR tapestamp)
# The developers' mail address at the project's site, whose bug page the usage text names.
set(CPACK_PACKAGE_CONTACT "The tapestamp developers <developers@tapestamp.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recording-time subtitles and frame reports from DV streams")
# CPack puts the summary above this as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "DV camcorders record the date and time into every frame they write.
tapestamp reads the raw DV stream of a digitised tape, from files or from a
capture pipe, and writes MicroDVD subtitles that show the recording time over
the video, a per-frame information report with optional hex dumps of the
subcode and VAUX packs, or the first recording date of a stream. It can copy
the stream unchanged to standard output, so that it sits in a pipe between a
capture tool and an encoder.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tapestamp.org)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# The dependencies on libdv, libc and libstdc++ come from the binary itself through
# dpkg-shlibdeps (package dpkg-dev); without it they are named here.
find_program(TAPESTAMP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAPESTAMP_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libdv4 (>= 1.0.0), libc6, libstdc++6")
endif()
include(CPack)

if(BUILD_TESTING)
  add_test(NAME packaging.manpage
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/packaging/manpage_test.sh
                   ${CMAKE_CURRENT_SOURCE_DIR}/doc/tapestamp.1 $<TARGET_FILE:tapestamp>
                   ${CMAKE_CURRENT_SOURCE_DIR}/src)
  add_test(NAME packaging.completion
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/packaging/completion_test.sh
                   ${CMAKE_CURRENT_SOURCE_DIR}/completion/tapestamp.bash $<TARGET_FILE:tapestamp>)
  add_test(NAME packaging.install
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/packaging/package_test.sh
                   ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CPACK_COMMAND} ${CMAKE_COMMAND}
                   $<TARGET_FILE:make-dv> ${CMAKE_CURRENT_SOURCE_DIR})
endif()
