# CLI11 and nlohmann-json, header-only, for every target that asks for quorvel_header_only.
# Both builds take them from the
# system's include folder through a folder of links to just those two, so the
# Windows build never sees the rest of the Linux headers there.
set(QUORVEL_HEADER_ONLY_INCLUDE_DIR "/usr/include" CACHE PATH
    "Folder holding CLI/CLI.hpp and nlohmann/json.hpp")
set(header_only_dir ${CMAKE_BINARY_DIR}/header-only-include)
file(MAKE_DIRECTORY ${header_only_dir})
foreach(header CLI/CLI.hpp nlohmann/json.hpp)
  if(NOT EXISTS ${QUORVEL_HEADER_ONLY_INCLUDE_DIR}/${header})
    message(FATAL_ERROR "${header} not found in ${QUORVEL_HEADER_ONLY_INCLUDE_DIR}: "
                        "install libcli11-dev and nlohmann-json3-dev (scripts/install-deps.sh)")
  endif()
  get_filename_component(folder ${header} DIRECTORY)
  file(CREATE_LINK ${QUORVEL_HEADER_ONLY_INCLUDE_DIR}/${folder} ${header_only_dir}/${folder} SYMBOLIC)
endforeach()
add_library(quorvel_header_only INTERFACE)
target_include_directories(quorvel_header_only SYSTEM INTERFACE ${header_only_dir})

# Boost's headers (Beast and Asio, header-only), for the station page's server
# alone, through a folder of their own in the same way.
set(boost_include_dir ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${boost_include_dir})
if(NOT EXISTS ${QUORVEL_HEADER_ONLY_INCLUDE_DIR}/boost/beast.hpp)
  message(FATAL_ERROR "boost/beast.hpp not found in ${QUORVEL_HEADER_ONLY_INCLUDE_DIR}: "
                      "install libboost-dev (scripts/install-deps.sh)")
endif()
file(CREATE_LINK ${QUORVEL_HEADER_ONLY_INCLUDE_DIR}/boost ${boost_include_dir}/boost SYMBOLIC)
add_library(quorvel_boost INTERFACE)
target_include_directories(quorvel_boost SYSTEM INTERFACE ${boost_include_dir})
# Beast's own error codes and Asio need no compiled Boost library.
target_compile_definitions(quorvel_boost INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_ERROR_CODE_HEADER_ONLY)
