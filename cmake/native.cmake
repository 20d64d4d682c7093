# The Windows-free logic built natively with AddressSanitizer and UndefinedBehaviorSanitizer, its
# tests, and (with clang) libFuzzer targets.
set(VISTREL_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(vistrel_portable STATIC ${VISTREL_PORTABLE_SOURCES})
target_include_directories(vistrel_portable PUBLIC src res)
target_compile_options(vistrel_portable PUBLIC ${VISTREL_SANITIZE} PRIVATE -Wall -Wextra -Wpedantic)
target_link_options(vistrel_portable PUBLIC ${VISTREL_SANITIZE})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VISTREL_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB VISTREL_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
# The tests' stand-in for the log (core/log.cpp needs Windows): keeps the lines for the tests.
set(VISTREL_NATIVE_SUPPORT ${CMAKE_SOURCE_DIR}/tests/native_support/log_capture.cpp)

# Test catalogues compiled from tests/data/i18n/<name>.po: <name>.mo (little-endian) and
# <name>-be.mo (big-endian), in a folder passed to the tests as VISTREL_TEST_MO_DIR. They also seed
# the working corpus of fuzz_mo_reader, so that it starts from well-formed files.
find_program(VISTREL_MSGFMT msgfmt REQUIRED)
set(VISTREL_TEST_MO_DIR ${CMAKE_BINARY_DIR}/test-data/i18n)
file(GLOB VISTREL_TEST_PO CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/data/i18n/*.po)
set(VISTREL_TEST_MO)
foreach(po ${VISTREL_TEST_PO})
  get_filename_component(name ${po} NAME_WE)
  add_custom_command(
    OUTPUT ${VISTREL_TEST_MO_DIR}/${name}.mo ${VISTREL_TEST_MO_DIR}/${name}-be.mo
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_TEST_MO_DIR}
    COMMAND ${VISTREL_MSGFMT} --endianness=little -o ${VISTREL_TEST_MO_DIR}/${name}.mo ${po}
    COMMAND ${VISTREL_MSGFMT} --endianness=big -o ${VISTREL_TEST_MO_DIR}/${name}-be.mo ${po}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/corpus-mo_reader
    COMMAND ${CMAKE_COMMAND} -E copy ${VISTREL_TEST_MO_DIR}/${name}.mo ${VISTREL_TEST_MO_DIR}/${name}-be.mo
            ${CMAKE_BINARY_DIR}/corpus-mo_reader
    DEPENDS ${po}
    COMMENT "Compiling the test catalogue ${name}")
  list(APPEND VISTREL_TEST_MO ${VISTREL_TEST_MO_DIR}/${name}.mo ${VISTREL_TEST_MO_DIR}/${name}-be.mo)
endforeach()
add_custom_target(vistrel_test_catalogues DEPENDS ${VISTREL_TEST_MO})

add_executable(vistrel_native_tests ${VISTREL_NATIVE_TESTS} ${VISTREL_NATIVE_SUPPORT})
target_include_directories(vistrel_native_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native_support)
target_compile_definitions(vistrel_native_tests PRIVATE VISTREL_TEST_MO_DIR="${VISTREL_TEST_MO_DIR}")
target_link_libraries(vistrel_native_tests PRIVATE vistrel_portable gtest gtest_main)
add_dependencies(vistrel_native_tests vistrel_test_catalogues)
add_test(NAME native COMMAND vistrel_native_tests --gtest_color=no)

# Fuzz targets: tests/fuzz/fuzz_<name>.cpp, each with a corpus folder tests/fuzz/corpus/<name>.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  file(GLOB VISTREL_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  foreach(source ${VISTREL_FUZZERS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source} ${VISTREL_NATIVE_SUPPORT})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE vistrel_portable)
  endforeach()
endif()

# The recording session's threads under ThreadSanitizer (which cannot be combined with ASan).
add_executable(vistrel_session_tsan tests/native/recording_session_test.cpp src/recording/recording_session.cpp
  src/core/log_format.cpp src/core/text.cpp ${VISTREL_NATIVE_SUPPORT})
target_include_directories(vistrel_session_tsan PRIVATE src tests/native_support)
target_compile_options(vistrel_session_tsan PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
target_link_options(vistrel_session_tsan PRIVATE -fsanitize=thread)
target_link_libraries(vistrel_session_tsan PRIVATE gtest gtest_main)
add_test(NAME session-tsan COMMAND vistrel_session_tsan --gtest_color=no)
