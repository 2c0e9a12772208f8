# Helpers shared by every module's CMakeLists.
#
# Sources are picked up by folder: every .cpp/.h/.ui directly in the module's
# folder. Files ending in _win.cpp are built only for Windows, files ending in
# _posix.cpp only elsewhere: one header, one implementation per platform.

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic)
endif()

if(VELMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

function(velmora_collect_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${dir}/*.ui)
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "_win\\.cpp$")
  endif()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# velmora_library(NAME [QT] [LINKS lib...] [EXCLUDE regex...])
# A static library of the sources in the calling folder. Include paths are
# from the project root: #include "settings/IniFile.h".
function(velmora_library name)
  cmake_parse_arguments(A "QT" "" "LINKS;EXCLUDE" ${ARGN})
  velmora_collect_sources(srcs ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(rx IN LISTS A_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${rx}")
  endforeach()
  set(cpp ${srcs})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(NOT cpp)
    # A module whose sources are not written yet.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} INTERFACE ${A_LINKS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_link_libraries(${name} PUBLIC ${A_LINKS})
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
  endif()
endfunction()

# velmora_test(NAME SOURCES src... [LINKS lib...] [QT] [NETNS] [TIMEOUT s]
#              [LOCK resource [LOCKED_CASES filter]])
# A GoogleTest program in build/tests. Plain tests are discovered per case
# before they run (so a cross build runs discovery under its emulator at test
# time, not at build time). NETNS tests run whole, inside the private test
# network that scripts/testnet.sh builds and removes, and alone.
# LOCK names a resource of the host that the program's cases take for
# themselves (a CTest RESOURCE_LOCK, so `ctest -j` never runs two holders
# at once): debug_port (UDP [::1]:19641, the debug monitor's port),
# log_port (TCP [::1]:23, a target's log stream). LOCKED_CASES (a
# GoogleTest filter, Suite.Case:Suite.Other*) limits the lock to the cases
# that take the resource, so the others still run beside its holders.
function(velmora_test name)
  cmake_parse_arguments(A "QT;NETNS" "TIMEOUT;LOCK;LOCKED_CASES" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LINKS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
    target_link_libraries(${name} PRIVATE Qt5::Test)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set(env "VELMORA_PROGRAM_DIR=${VELMORA_PROGRAM_DIR};VELMORA_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    # Under Wine the host's file system is drive Z:; a Windows program
    # cannot open the host's absolute paths as they are.
    set(env "VELMORA_PROGRAM_DIR=Z:${VELMORA_PROGRAM_DIR};VELMORA_SOURCE_DIR=Z:${PROJECT_SOURCE_DIR}")
  endif()
  if(A_QT)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
    # Qt wants a private runtime folder; without one it warns on every start.
    set(xdg ${CMAKE_BINARY_DIR}/tests/xdg-runtime)
    file(MAKE_DIRECTORY ${xdg})
    file(CHMOD ${xdg} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    list(APPEND env "XDG_RUNTIME_DIR=${xdg}")
  endif()
  if(VELMORA_SANITIZE)
    # Qt's platform plugin keeps a few objects until exit, in window tests
    # and in the programs tests start: suppress those (and only those), with
    # full stacks so the suppressions can tell.
    # A sanitizer report ends the program with 86, a status none of our
    # programs uses: a test that expects a child to fail with 1 cannot take
    # a leak or a heap error on that path for the failure it wanted. The
    # children a test starts inherit these.
    list(APPEND env "ASAN_OPTIONS=fast_unwind_on_malloc=0:exitcode=86"
                    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/lsan.supp:print_suppressions=0:exitcode=86"
                    "UBSAN_OPTIONS=print_stacktrace=1:exitcode=86")
  endif()
  if(A_NETNS)
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/testnet.sh $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${env}" RUN_SERIAL ON LABELS netns)
    if(A_LOCK)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${A_LOCK})
    endif()
  else()
    # Discovered tests keep only the first entry of a list-valued ENVIRONMENT
    # (the discovery script flattens it), so the environment is set by a
    # launcher in front of the program: for the listing run and every case.
    set(launcher ${CMAKE_COMMAND} -E env ${env} --)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      list(APPEND launcher ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${launcher}")
    # Parameterised cases are named by their case names, not by byte dumps
    # of their parameters (NO_PRETTY_VALUES).
    set(discovery DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
    if(A_LOCK AND A_LOCKED_CASES)
      # Two discoveries of one program: the other cases, and the locked ones.
      gtest_discover_tests(${name} ${discovery} TEST_FILTER "-${A_LOCKED_CASES}"
                           PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${env}")
      gtest_discover_tests(${name} ${discovery} TEST_FILTER "${A_LOCKED_CASES}"
                           PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${env}" RESOURCE_LOCK ${A_LOCK})
    elseif(A_LOCK)
      gtest_discover_tests(${name} ${discovery}
                           PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${env}" RESOURCE_LOCK ${A_LOCK})
    else()
      gtest_discover_tests(${name} ${discovery} PROPERTIES TIMEOUT ${A_TIMEOUT} ENVIRONMENT "${env}")
    endif()
  endif()
endfunction()

# Adds the listed subfolders that have a CMakeLists.txt.
macro(velmora_subdirs)
  foreach(d ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/CMakeLists.txt)
      add_subdirectory(${d})
    endif()
  endforeach()
endmacro()
