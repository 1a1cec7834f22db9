# Build helpers shared by every area: the device image, deliverables and tests.

# The device image: the phone's file system as one directory.
set(CAMERA_IMAGE_DIR ${CMAKE_BINARY_DIR}/image CACHE INTERNAL "")
set(CAMERA_IMAGE_WINDOWS ${CAMERA_IMAGE_DIR}/Windows CACHE INTERNAL "")
set(CAMERA_BIN_DIR ${CMAKE_BINARY_DIR}/bin CACHE INTERNAL "")
file(MAKE_DIRECTORY ${CAMERA_IMAGE_WINDOWS} ${CAMERA_IMAGE_DIR}/fs ${CAMERA_BIN_DIR})

# Programs (tests, tools, benchmarks) land in bin/; the image holds only deliverables.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CAMERA_BIN_DIR})

# Every program and library finds the image's libraries by RUNPATH.
set(CMAKE_BUILD_RPATH ${CAMERA_IMAGE_WINDOWS})
add_link_options(-Wl,--enable-new-dtags)

# Names given to camera_add_test / camera_add_module / camera_component as LIBS must be
# targets of this tree (or a system library of the short list below): a renamed or missing
# target fails the configure step instead of turning into "-lname" or a test that vanishes.
set(CAMERA_SYSTEM_LIBRARIES pthread dl m rt)
function(camera_require_targets user)
  foreach(name IN LISTS ARGN)
    if(NOT name MATCHES "^-|::|/|^\\$<" AND NOT name IN_LIST CAMERA_SYSTEM_LIBRARIES)
      set_property(GLOBAL APPEND PROPERTY CAMERA_REQUIRED_TARGETS "${user}|${name}")
    endif()
  endforeach()
endfunction()
function(_camera_check_required_targets)
  get_property(required GLOBAL PROPERTY CAMERA_REQUIRED_TARGETS)
  set(missing)
  foreach(entry IN LISTS required)
    string(REPLACE "|" ";" pair "${entry}")
    list(GET pair 0 user)
    list(GET pair 1 name)
    if(NOT TARGET ${name})
      string(APPEND missing "\n  ${user} links \"${name}\", which is no target")
    endif()
  endforeach()
  if(missing)
    message(FATAL_ERROR "missing targets:${missing}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _camera_check_required_targets)

# camera_add_image_library(<target> <DeviceName> <sources...>)
# A shared object placed in the image's \Windows as "<DeviceName>.dll", with that
# soname and RUNPATH $ORIGIN so that it finds its neighbours in the image.
function(camera_add_image_library target device_name)
  add_library(${target} SHARED ${ARGN})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${device_name}
    PREFIX ""
    SUFFIX ".dll"
    NO_SONAME OFF
    LIBRARY_OUTPUT_DIRECTORY ${CAMERA_IMAGE_WINDOWS}
    BUILD_RPATH "$ORIGIN"
    BUILD_WITH_INSTALL_RPATH OFF)
  target_link_options(${target} PRIVATE -Wl,-soname,${device_name}.dll)
endfunction()

# camera_build_machine_tool(<target>)
# A program the build itself runs: built for the build machine, whatever the target's word
# size, so that a 32-bit tree builds where no 32-bit program runs. Its output must not
# depend on the word size (it writes its records byte by byte).
function(camera_build_machine_tool target)
  if(CAMERA_WORD_BITS STREQUAL "32" AND CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    target_compile_options(${target} PRIVATE -m64)
    target_link_options(${target} PRIVATE -m64)
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/EmulatedTests.cmake)

# camera_add_test(<target> SOURCES <...> LIBS <...> [RESOURCE_LOCK <name>] [LONG_CASES])
# A GoogleTest program; each test case becomes its own CTest test. Under an emulator only
# the programs cmake/EmulatedTests.cmake chooses are registered; the others are built.
# LONG_CASES: cases that take seconds each (the driver's stills and rounds on the board);
# CTest starts them first, so that a fresh tree without timing records does not end on them.
function(camera_add_test target)
  cmake_parse_arguments(T "LONG_CASES" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  camera_require_targets(${target} ${T_LIBS})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock camera_test_support GTest::gtest_main)
  camera_test_runs_here(${target} camera_test_registered camera_test_filter)
  # Paced board frames (board_vfe.h): outcomes that do not depend on the machine's load.
  # One value per property: a list inside one (a ';') would shift the pairs after it.
  set(props ENVIRONMENT "ASAN_OPTIONS=allocator_may_return_null=1"
            ENVIRONMENT_MODIFICATION "CAMERA_BOARD_PACED=set:1")
  if(T_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_LONG_CASES)
    list(APPEND props COST 1000)
  endif()
  if(NOT camera_test_registered)
    return()
  endif()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 TEST_FILTER "${camera_test_filter}" PROPERTIES ${props})
endfunction()

# Seed files of the image (registry seed, device.cs, fs/) are copied from the source
# tree's image/ at build time; outputs are written straight into the image.
function(camera_finish_image)
  add_custom_target(camera_image_seed ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/image ${CAMERA_IMAGE_DIR}
    COMMENT "Laying the device image seed")
endfunction()

# camera_check_every_folder_built()
# Called once at the end of the top-level list: every folder of the tree that has a
# CMakeLists.txt must have been added, so that a folder left out of its parent's list (after
# a merge, say) fails the configure step instead of its tests quietly never running.
function(camera_check_every_folder_built)
  set(reached)
  set(pending ${CMAKE_SOURCE_DIR})
  while(pending)
    list(POP_FRONT pending dir)
    list(APPEND reached ${dir})
    get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND pending ${children})
  endwhile()
  file(GLOB_RECURSE lists RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/*/CMakeLists.txt)
  set(missing)
  foreach(list IN LISTS lists)
    if(list MATCHES "^(build[^/]*|\\.git)/")
      continue()
    endif()
    get_filename_component(dir ${CMAKE_SOURCE_DIR}/${list} DIRECTORY)
    if(NOT dir IN_LIST reached)
      list(APPEND missing ${list})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing "\n  " text)
    message(FATAL_ERROR "folders with a CMakeLists.txt that no parent adds:\n  ${text}")
  endif()
endfunction()
