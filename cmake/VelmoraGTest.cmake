# GoogleTest for the tests.
#
# A native build uses the installed GoogleTest (find_package). A cross build
# (the Windows build of the core) cannot use the host's libraries, so it
# builds GoogleTest from Debian's source package (googletest, in
# /usr/src/googletest) with the cross compiler and gives it the same target
# names as the installed package.

set(VELMORA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources, built with the project when cross-compiling")

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest REQUIRED)
  return()
endif()

if(NOT EXISTS ${VELMORA_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR
    "Cross build: GoogleTest sources not found in ${VELMORA_GTEST_SOURCE_DIR}. "
    "Install Debian's googletest package or set VELMORA_GTEST_SOURCE_DIR.")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
# GoogleTest's own sources are not ours to keep warning-free.
add_subdirectory(${VELMORA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(t gtest gtest_main gmock gmock_main)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -w)
    if(NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endif()
endforeach()
