# Debian packages of the tree, one per install component (cmake/TesmoInstall.cmake):
#   app -> tesmo-man, sdk -> libvopelzosdk1, sdk-dev -> libvopelzosdk-dev.
# scripts/package.sh builds them into build/packages; tests/package checks them.
# Nothing here names targets: whatever installs into a component ships in its package.

set(TESMO_MAINTAINER "Vostrel tesmo maintainers <tesmo@vostrel.example>")

set(TESMO_PACKAGE_COMPONENTS sdk sdk-dev)
if(TESMO_BUILD_APP)
  list(PREPEND TESMO_PACKAGE_COMPONENTS app)
endif()
set(TESMO_PACKAGE_NAME_app tesmo-man)
# Debian names a library package after its SONAME: libvoPelzoSdk.so.1 -> libvopelzosdk1.
get_target_property(_sdk_soversion voPelzoSdk SOVERSION)
if(NOT _sdk_soversion)
  message(FATAL_ERROR "voPelzoSdk has no SOVERSION: the package name follows it")
endif()
set(TESMO_PACKAGE_NAME_sdk libvopelzosdk${_sdk_soversion})
set(TESMO_PACKAGE_NAME_sdk-dev libvopelzosdk-dev)

# Every package carries its copyright file and changelog, compressed as Debian's tools
# expect (gzip -9n, reproducible).
set(_pkg_doc_dir ${CMAKE_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${_pkg_doc_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${_pkg_doc_dir}/changelog.gz
  COMMAND gzip -9nkf ${_pkg_doc_dir}/changelog
  DEPENDS ${_pkg_doc_dir}/changelog
  COMMENT "Compressing the package changelog"
  VERBATIM)
add_custom_target(tesmo_package_docs ALL DEPENDS ${_pkg_doc_dir}/changelog.gz)
foreach(component IN LISTS TESMO_PACKAGE_COMPONENTS)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_pkg_doc_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TESMO_PACKAGE_NAME_${component}}
    COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tesmo)
set(CPACK_PACKAGE_VENDOR Vostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TESMO_MAINTAINER})
# Each package has a description of its own whose first line is its synopsis. CPack
# would put the project's summary in front of it unless the summary is its default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${TESMO_PACKAGE_COMPONENTS})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TESMO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies on system libraries come from dpkg-shlibdeps; the SDK library is found
# in the build tree (it is not installed yet) and the dependency on its package is
# the component dependency below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src/vo_pelzo_sdk_core)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

foreach(component IN LISTS TESMO_PACKAGE_COMPONENTS)
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${TESMO_PACKAGE_NAME_${component}})
endforeach()

set(CPACK_DEBIAN_APP_PACKAGE_SECTION net)
set(CPACK_DEBIAN_APP_DESCRIPTION "manager for the Audio-over-IP terminals of a LAN
tesmo-man finds the Audio-over-IP terminals of the local network (network
speakers, paging microphones, intercom, alarm and text-to-speech terminals),
shows and edits their settings in one table, sends configuration commands,
updates their software from an update bundle, makes text-to-speech terminals
speak, exports and imports their configuration, prints device labels and
plays a local audio file on chosen terminals.
.
The package also holds pelzo-play, which plays an audio file to Pelzo
terminals from the command line.")

set(CPACK_DEBIAN_SDK_PACKAGE_SECTION libs)
# The dynamic linker's cache is refreshed by dpkg's ldconfig trigger; the names of
# maintainer scripts that do not exist keep CPack from writing ones that call ldconfig.
set(CPACK_DEBIAN_SDK_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/libvopelzosdk/triggers
  ${CMAKE_BINARY_DIR}/packaging/no-script/postinst ${CMAKE_BINARY_DIR}/packaging/no-script/postrm)
set(CPACK_DEBIAN_SDK_DESCRIPTION "streams audio files to Pelzo terminals (voPelzoSdk)
voPelzoSdk decodes audio files with FFmpeg, encodes them with Opus and streams
them to Audio-over-IP terminals over the Pelzo protocol on UDP, after a
challenge-and-response login. It also reads audio captured by a terminal, sets
terminal volumes and offers a read-only REST view of its state.
.
This package holds the shared library.")

set(CPACK_DEBIAN_SDK-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_SDK-DEV_DESCRIPTION "streams audio files to Pelzo terminals (development files)
voPelzoSdk decodes audio files with FFmpeg, encodes them with Opus and streams
them to Audio-over-IP terminals over the Pelzo protocol on UDP.
.
This package holds the C header, the pkg-config file (voPelzoSdk) and the
CMake package (find_package(voPelzoSdk), target voPelzoSdk::voPelzoSdk).")

include(CPack)

cpack_add_component(sdk DISPLAY_NAME "voPelzoSdk library")
cpack_add_component(sdk-dev DISPLAY_NAME "voPelzoSdk development files" DEPENDS sdk)
if(TESMO_BUILD_APP)
  # pelzo-play links the SDK, and so will the program's local playback.
  cpack_add_component(app DISPLAY_NAME "tesmo-man" DEPENDS sdk)
endif()
