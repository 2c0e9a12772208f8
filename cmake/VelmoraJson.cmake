# nlohmann/json, header-only (Debian's nlohmann-json3-dev), for the
# machine-readable output of velmora-ctl. Gives the target
# nlohmann_json::nlohmann_json in both builds.
#
# A native build uses the installed package's CMake files. A cross build
# (the Windows build of the core) finds no package for its target system,
# and cannot put the host's /usr/include on its include path (the host's C
# library headers would shadow mingw-w64's), so it reaches the host's
# headers through a folder of its own that holds only a link to them: the
# library is plain C++ and the same for every system (its version is
# checked by the native build of the same machine).

set(VELMORA_JSON_MIN_VERSION 3.9)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json ${VELMORA_JSON_MIN_VERSION} CONFIG GLOBAL)
  if(NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "nlohmann/json ${VELMORA_JSON_MIN_VERSION} or newer not found: "
                        "install Debian's nlohmann-json3-dev (scripts/setup-deps.sh)")
  endif()
  return()
endif()

find_path(VELMORA_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "The folder holding nlohmann/json.hpp for the cross build")
if(NOT VELMORA_JSON_INCLUDE_DIR)
  message(FATAL_ERROR "Cross build: nlohmann/json.hpp not found in /usr/include: install Debian's "
                      "nlohmann-json3-dev or set VELMORA_JSON_INCLUDE_DIR")
endif()
set(_json_dir ${CMAKE_BINARY_DIR}/_json/include)
file(MAKE_DIRECTORY ${_json_dir})
file(REMOVE ${_json_dir}/nlohmann)
file(CREATE_LINK ${VELMORA_JSON_INCLUDE_DIR}/nlohmann ${_json_dir}/nlohmann SYMBOLIC COPY_ON_ERROR)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_json_dir})
