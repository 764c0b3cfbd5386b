# The libraries of a Windows build. Debian ships them for Linux only, but the
# ones used here are headers (nlohmann/json, RapidJSON, fmt in its header-only
# form, xxHash inlined) or sources (GoogleTest): their headers are reached
# through a folder of their own, so that no Linux system header is ever seen
# by the cross compiler.
set(BACKFILL_WINDOWS_INCLUDE ${CMAKE_BINARY_DIR}/windows-include)
file(MAKE_DIRECTORY ${BACKFILL_WINDOWS_INCLUDE})
foreach(entry nlohmann rapidjson fmt xxhash.h)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/install-deps.sh --windows")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${BACKFILL_WINDOWS_INCLUDE}/${entry} SYMBOLIC)
endforeach()

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${BACKFILL_WINDOWS_INCLUDE})
add_library(fmt::fmt INTERFACE IMPORTED)
target_include_directories(fmt::fmt SYSTEM INTERFACE ${BACKFILL_WINDOWS_INCLUDE})
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY)
set(RAPIDJSON_INCLUDE_DIRS ${BACKFILL_WINDOWS_INCLUDE})
# xxHash is one header that holds its implementation too.
file(WRITE ${CMAKE_BINARY_DIR}/xxhash.c "#define XXH_STATIC_LINKING_ONLY\n#define XXH_IMPLEMENTATION\n#include <xxhash.h>\n")
enable_language(C)
add_library(backfill_xxhash STATIC ${CMAKE_BINARY_DIR}/xxhash.c)
target_include_directories(backfill_xxhash SYSTEM PUBLIC ${BACKFILL_WINDOWS_INCLUDE})
add_library(PkgConfig::XXHASH ALIAS backfill_xxhash)

if(BUILD_TESTING)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest is missing: run scripts/install-deps.sh --windows")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest names its targets GTest::gtest and GTest::gtest_main itself
  # since 1.11; older sources do not.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
