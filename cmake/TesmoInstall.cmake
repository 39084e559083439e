# Install layout of the whole tree and the helpers that put programs and man pages in it.
#
# Every install rule names one of these components; each component is one Debian
# package (cmake/TesmoPackaging.cmake):
#   app      tesmo-man           the programs, translations, desktop file, icons, man pages
#   sdk      libvopelzosdk1      the SDK's shared library (SONAME file and versioned file)
#   sdk-dev  libvopelzosdk-dev   the SDK's headers, .so link, pkg-config file, CMake package
# A new program joins the tesmo-man package with one line in its own CMakeLists.txt:
#   tesmo_install_program(<target> MANPAGE <name>.1)

# Libraries go to the multiarch directory where the platform has one (Debian:
# lib/x86_64-linux-gnu), under /usr as under /usr/local; the dynamic linker and
# pkg-config search both. GNUInstallDirs picks it only for the /usr prefix, so the
# default is set before it looks. A tree that GNUInstallDirs configured earlier, whose
# cache holds its old default "lib", moves over once; a directory a user chose is kept.
if(CMAKE_LIBRARY_ARCHITECTURE)
  if(NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR}
     OR (CMAKE_INSTALL_LIBDIR STREQUAL "lib"
         AND DEFINED CACHE{_GNUInstallDirs_LAST_CMAKE_INSTALL_PREFIX}
         AND NOT TESMO_LIBDIR_CHECKED))
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries (LIBDIR)" FORCE)
  endif()
  set(TESMO_LIBDIR_CHECKED ON CACHE INTERNAL "CMAKE_INSTALL_LIBDIR default was applied")
endif()
include(GNUInstallDirs)

# Translations of the programs. The program looks beside its executable first (a build
# tree, an unpacked folder) and then here, relative to its own bin directory, so an
# installed tree works wherever it was unpacked.
set(TESMO_INSTALL_TRANSLATIONSDIR ${CMAKE_INSTALL_DATADIR}/tesmo-man/translations)
file(RELATIVE_PATH TESMO_TRANSLATIONS_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_DATADIR}/tesmo-man/translations)

# tesmo_install_manpage(<file.N> [COMPONENT <c>]): installs a roff man page, compressed
# as Debian wants it (gzip -9n: reproducible, no name or time stamp), in manN.
function(tesmo_install_manpage source)
  cmake_parse_arguments(M "" "COMPONENT" "" ${ARGN})
  if(NOT M_COMPONENT)
    set(M_COMPONENT app)
  endif()
  get_filename_component(name ${source} NAME)
  get_filename_component(abs ${source} ABSOLUTE)
  string(REGEX MATCH "[0-9]$" section ${name})
  if(NOT section)
    message(FATAL_ERROR "man page ${source}: the name must end in its section number")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/man)
  set(out ${dir}/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${abs} ${dir}/${name}
    COMMAND gzip -9nf ${dir}/${name}
    DEPENDS ${abs}
    COMMENT "Compressing man page ${name}"
    VERBATIM)
  add_custom_target(tesmo_manpage_${name} ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${M_COMPONENT})
endfunction()

# tesmo_install_program(<target> [MANPAGE <file.N>] [COMPONENT <c>]): installs a program
# in bin with its man page; the component defaults to app (the tesmo-man package).
function(tesmo_install_program target)
  cmake_parse_arguments(P "" "MANPAGE;COMPONENT" "" ${ARGN})
  if(NOT P_COMPONENT)
    set(P_COMPONENT app)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${P_COMPONENT})
  if(P_MANPAGE)
    tesmo_install_manpage(${P_MANPAGE} COMPONENT ${P_COMPONENT})
  endif()
endfunction()
