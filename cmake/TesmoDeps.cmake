# Locates the Debian-packaged dependencies and exposes them as imported targets.

find_package(PkgConfig REQUIRED)

# RapidJSON is header-only.
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)
add_library(tesmo::rapidjson INTERFACE IMPORTED GLOBAL)
target_include_directories(tesmo::rapidjson SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIR})

# http_parser ships a header and a shared library without pkg-config data.
find_path(HTTP_PARSER_INCLUDE_DIR http_parser.h REQUIRED)
find_library(HTTP_PARSER_LIBRARY http_parser REQUIRED)
add_library(tesmo::http_parser UNKNOWN IMPORTED GLOBAL)
set_target_properties(tesmo::http_parser PROPERTIES
  IMPORTED_LOCATION ${HTTP_PARSER_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${HTTP_PARSER_INCLUDE_DIR})

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET GLOBAL libavformat libavcodec libavutil libswresample)
pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET GLOBAL opus)
if(TARGET PkgConfig::FFMPEG)
  add_library(tesmo::ffmpeg ALIAS PkgConfig::FFMPEG)
endif()
if(TARGET PkgConfig::OPUS)
  add_library(tesmo::opus ALIAS PkgConfig::OPUS)
endif()

if(TESMO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TESMO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

if(TESMO_BUILD_APP)
  find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network PrintSupport Svg LinguistTools Test)
endif()
