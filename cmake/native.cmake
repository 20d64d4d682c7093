# The Windows-free logic built natively with AddressSanitizer and UndefinedBehaviorSanitizer, its
# tests, and (with clang) libFuzzer targets.
set(VISTREL_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(vistrel_portable STATIC ${VISTREL_PORTABLE_SOURCES})
target_include_directories(vistrel_portable PUBLIC src)
target_compile_options(vistrel_portable PUBLIC ${VISTREL_SANITIZE} PRIVATE -Wall -Wextra -Wpedantic)
target_link_options(vistrel_portable PUBLIC ${VISTREL_SANITIZE})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VISTREL_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB VISTREL_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(vistrel_native_tests ${VISTREL_NATIVE_TESTS})
target_link_libraries(vistrel_native_tests PRIVATE vistrel_portable gtest gtest_main)
add_test(NAME native COMMAND vistrel_native_tests --gtest_color=no)

# Fuzz targets: tests/fuzz/fuzz_<name>.cpp, each with a corpus folder tests/fuzz/corpus/<name>.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  file(GLOB VISTREL_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  foreach(source ${VISTREL_FUZZERS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE vistrel_portable)
  endforeach()
endif()
