# Conventions of an area folder and its sub-folders (paths are relative to
# the area folder, at any depth):
#   *.cpp                     the area's core library (kavelo_<area>)
#   *_main.cpp                a program's entry; named in kavelo_program()
#   *_test.cpp, test/*.cpp    the area's GoogleTest binary (<area>_tests)
# Folders are globbed so that adding a file needs no edit here.

include(GoogleTest)

set(KAVELO_WARNINGS -Wall -Wextra -Wshadow -Woverloaded-virtual)

function(kavelo_apply_options target)
  target_compile_features(${target} PUBLIC cxx_std_17)
  target_compile_options(${target} PRIVATE ${KAVELO_WARNINGS})
  if(KAVELO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(KAVELO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KAVELO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KAVELO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KAVELO_SANITIZE must be empty, address or thread")
endif()
if(KAVELO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT KAVELO_SANITIZE STREQUAL "")
    message(FATAL_ERROR "KAVELO_FUZZ needs clang and no KAVELO_SANITIZE (scripts/fuzz.sh)")
  endif()
  # Every library gets libFuzzer's coverage hooks and both sanitizers; an
  # undefined-behaviour report ends the run like a crash.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(NOT KAVELO_SANITIZE STREQUAL "")
  # GCC 12's flow analysis reports false maybe-uninitialized warnings inside
  # the standard library (std::regex, std::function) once sanitizers
  # instrument it; the plain build keeps the warning.
  add_compile_options(-Wno-maybe-uninitialized)
endif()

# kavelo_library(NAME DEPS dep...): the folder's library from every .cpp that
# is neither a test, a test helper nor a program entry.
function(kavelo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  # Relative paths, so that a "test" folder above the checkout excludes
  # nothing.
  file(GLOB_RECURSE srcs RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "(_test|_main)\\.cpp$")
  list(FILTER srcs EXCLUDE REGEX "(^|/)test/")
  list(TRANSFORM srcs PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  if(NOT srcs)
    # A folder whose code has not been written yet still links.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kavelo_apply_options(${name})
endfunction()

# kavelo_program(NAME SOURCE DEPS dep...)
function(kavelo_program name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${source})
    return()
  endif()
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  kavelo_apply_options(${name})
endfunction()

# kavelo_tests(NAME DEPS dep...): the folder's tests, one binary, each case
# registered with CTest; every such binary links the shared test helpers
# (testsupport/).  Tests find the built programs through
# KAVELO_BIN_DIR and the sample files through KAVELO_SOURCE_DIR.
function(kavelo_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  # Exactly the files kavelo_library leaves out as tests: a test/ folder of
  # a sub-folder counts as well.
  file(GLOB_RECURSE srcs RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs INCLUDE REGEX "(_test\\.cpp$|(^|/)test/)")
  list(TRANSFORM srcs PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kavelo_testsupport
                        GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    KAVELO_BIN_DIR="${PROJECT_BINARY_DIR}/bin"
    KAVELO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  kavelo_apply_options(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KAVELO_BIN_DIR=${PROJECT_BINARY_DIR}/bin")
endfunction()
