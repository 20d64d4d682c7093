# The Windows program, its unit tests and the test driver, cross-built with mingw-w64.
enable_language(RC)

set(VISTREL_FFMPEG_DIR "" CACHE PATH "FFmpeg install prefix (scripts/build-ffmpeg.sh prints it)")
if(NOT VISTREL_FFMPEG_DIR OR NOT EXISTS "${VISTREL_FFMPEG_DIR}/include/libavcodec/avcodec.h")
  message(FATAL_ERROR "Set VISTREL_FFMPEG_DIR to the cross-built FFmpeg (scripts/build-ffmpeg.sh)")
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(VISTREL_WARNINGS -Wall -Wextra -Wpedantic -Wno-missing-field-initializers -Wno-cast-function-type)
set(VISTREL_OUT ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${VISTREL_OUT})

# FFmpeg shared libraries: import libraries to link, DLLs to place beside the program.
add_library(vistrel_ffmpeg INTERFACE)
target_include_directories(vistrel_ffmpeg SYSTEM INTERFACE ${VISTREL_FFMPEG_DIR}/include)
foreach(lib avformat avcodec avutil swscale swresample)
  target_link_libraries(vistrel_ffmpeg INTERFACE ${VISTREL_FFMPEG_DIR}/lib/lib${lib}.dll.a)
endforeach()
file(GLOB VISTREL_FFMPEG_DLLS ${VISTREL_FFMPEG_DIR}/bin/*.dll)
add_custom_target(vistrel_ffmpeg_dlls ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_OUT}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VISTREL_FFMPEG_DLLS} ${VISTREL_OUT}
  COMMENT "FFmpeg DLLs beside the program")

# Only the FFmpeg DLLs may be needed beside an executable: everything else links statically
# (FFmpeg is linked through its import libraries by full path, which -static accepts).
set(VISTREL_STATIC_RUNTIME -static)

# One library per folder of src/. Each sees the headers of its own folder and of the folders it
# links, and nothing else: an include that reaches up a layer (say core/ including app/) fails to
# compile. The edges below are the allowed ones; src/app is the top and wires everything.
set(VISTREL_LAYERS core i18n config tracks media recording capture audio video gif ui update app)
set(VISTREL_USES_core "")
set(VISTREL_USES_i18n core)
set(VISTREL_USES_config core i18n)
set(VISTREL_USES_tracks core i18n config)
set(VISTREL_USES_media core i18n tracks)
set(VISTREL_USES_recording core)
set(VISTREL_USES_capture core i18n config resources)
set(VISTREL_USES_audio core i18n config tracks media recording)
set(VISTREL_USES_video core i18n config tracks media recording capture)
set(VISTREL_USES_gif core i18n config media recording capture)
set(VISTREL_USES_ui core i18n config tracks resources)
set(VISTREL_USES_update core i18n resources)
set(VISTREL_USES_app core i18n config tracks media recording capture audio video gif ui update resources)

# Dialog templates' identifiers and the version, for the folders that build windows from them.
configure_file(res/version.h.in ${CMAKE_BINARY_DIR}/generated/version.h @ONLY)
add_library(vistrel_resources INTERFACE)
target_include_directories(vistrel_resources INTERFACE res ${CMAKE_BINARY_DIR}/generated)

# nlohmann/json from Debian, through a folder that holds only that library: /usr/include itself
# must not reach the mingw-w64 compiler.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/json-include)
file(CREATE_LINK /usr/include/nlohmann ${CMAKE_BINARY_DIR}/json-include/nlohmann SYMBOLIC)

foreach(layer ${VISTREL_LAYERS})
  file(GLOB layer_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${layer}/*.cpp)
  list(REMOVE_ITEM layer_sources ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
  add_library(vistrel_${layer} STATIC ${layer_sources})
  set(layer_root ${CMAKE_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${layer_root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${layer} ${layer_root}/${layer} SYMBOLIC)
  target_include_directories(vistrel_${layer} PUBLIC ${layer_root})
  target_compile_definitions(vistrel_${layer} PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  target_compile_options(vistrel_${layer} PRIVATE ${VISTREL_WARNINGS})
  foreach(used ${VISTREL_USES_${layer}})
    target_link_libraries(vistrel_${layer} PUBLIC vistrel_${used})
  endforeach()
endforeach()
target_include_directories(vistrel_tracks SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/json-include)
target_link_libraries(vistrel_media PUBLIC vistrel_ffmpeg)
target_link_libraries(vistrel_core PUBLIC
  user32 gdi32 gdiplus dwmapi ksuser comctl32 comdlg32 shell32 shlwapi ole32 oleaut32 uuid advapi32 winmm
  dxgi d3d11 strmiids wininet)

# Icons are drawn by a script, so the repository holds no binary images.
set(VISTREL_ICONS ${CMAKE_BINARY_DIR}/generated/vistrel.ico ${CMAKE_BINARY_DIR}/generated/recording.ico)
add_custom_command(OUTPUT ${VISTREL_ICONS}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make_icons.py ${CMAKE_BINARY_DIR}/generated
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_icons.py
  COMMENT "Drawing icons")
set_source_files_properties(res/vistrel.rc PROPERTIES
  OBJECT_DEPENDS "${VISTREL_ICONS};${CMAKE_SOURCE_DIR}/res/vistrel.manifest;${CMAKE_SOURCE_DIR}/res/settings.rc;${CMAKE_SOURCE_DIR}/res/tracks.rc;${CMAKE_SOURCE_DIR}/res/resource.h")

add_executable(Vistrel WIN32 src/app/main.cpp res/vistrel.rc)
target_include_directories(Vistrel PRIVATE res ${CMAKE_BINARY_DIR}/generated)
target_compile_options(Vistrel PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VISTREL_WARNINGS}>)
target_link_options(Vistrel PRIVATE -municode)
target_link_libraries(Vistrel PRIVATE vistrel_app ${VISTREL_STATIC_RUNTIME})
add_dependencies(Vistrel vistrel_ffmpeg_dlls vistrel_assets)

# Shipped files beside the program: assets/ as it is, the sound effects drawn by a script, and
# the translation catalogues compiled from po/<code>.po.
file(GLOB_RECURSE VISTREL_ASSET_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/assets/*)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/assets.stamp
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/assets ${VISTREL_OUT}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/assets.stamp
  DEPENDS ${VISTREL_ASSET_FILES}
  COMMENT "Assets beside the program")
set(VISTREL_SOUNDS_STAMP ${VISTREL_OUT}/sounds/startup.wav)
add_custom_command(OUTPUT ${VISTREL_SOUNDS_STAMP}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make_sounds.py ${VISTREL_OUT}/sounds
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_sounds.py
  COMMENT "Generating sound effects")
find_program(VISTREL_MSGFMT msgfmt REQUIRED)
file(GLOB VISTREL_PO_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/po/*.po)
set(VISTREL_CATALOGUES)
foreach(po ${VISTREL_PO_FILES})
  get_filename_component(code ${po} NAME_WE)
  set(mo ${VISTREL_OUT}/languages/${code}/LC_MESSAGES/messages.mo)
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VISTREL_OUT}/languages/${code}/LC_MESSAGES
    COMMAND ${VISTREL_MSGFMT} --check-format -o ${mo} ${po}
    DEPENDS ${po}
    COMMENT "Compiling the ${code} catalogue")
  list(APPEND VISTREL_CATALOGUES ${mo})
endforeach()
add_custom_target(vistrel_assets ALL
  DEPENDS ${CMAKE_BINARY_DIR}/assets.stamp ${VISTREL_SOUNDS_STAMP} ${VISTREL_CATALOGUES})

# Test driver: finds windows, posts messages and fires keys inside the Wine prefix.
add_executable(vistrel-driver tools/driver/driver.cpp tools/driver/driver_mouse.cpp tools/driver/driver_windows.cpp
  tools/driver/driver_devices.cpp
  tools/driver/driver_dialogs.cpp
  tools/driver/driver_certificates.cpp)
target_compile_definitions(vistrel-driver PRIVATE UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00)
target_compile_options(vistrel-driver PRIVATE ${VISTREL_WARNINGS})
target_link_options(vistrel-driver PRIVATE -municode)
target_link_libraries(vistrel-driver PRIVATE user32 gdi32 comctl32 shell32 ole32 uuid crypt32 ${VISTREL_STATIC_RUNTIME})

# Unit tests, run under Wine by CTest.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VISTREL_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB VISTREL_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(vistrel_unit_tests ${VISTREL_UNIT_TESTS})
target_compile_options(vistrel_unit_tests PRIVATE ${VISTREL_WARNINGS})
target_link_options(vistrel_unit_tests PRIVATE -municode)
target_link_libraries(vistrel_unit_tests PRIVATE vistrel_app gtest ${VISTREL_STATIC_RUNTIME})
# The settings test reads the dialog templates from Vistrel.exe's resources.
add_dependencies(vistrel_unit_tests vistrel_ffmpeg_dlls vistrel_assets Vistrel)
add_test(NAME unit COMMAND vistrel_unit_tests --gtest_color=no WORKING_DIRECTORY ${VISTREL_OUT})

# Every translatable text of the program has a translation in every catalogue; the template
# extracted from the code is left in the build folder for translators.
add_test(NAME catalogues COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check_catalogues.py
  --template ${CMAKE_BINARY_DIR}/messages.pot)
