# CLI11 (the tools' options) and nlohmann-json (the record's and the port
# list's JSON), header-only, from Debian's libcli11-dev and nlohmann-json3-dev,
# as the targets kvr_cli11 and kvr_json. A native build takes the packages'
# own CMake targets. A cross build must not have the host's /usr/include on
# its compiler's path: it gets a copy of just these headers in its build tree,
# made here and nowhere else.
add_library(kvr_cli11 INTERFACE)
add_library(kvr_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  foreach(package IN ITEMS "kvr_cli11;CLI/CLI.hpp;CLI" "kvr_json;nlohmann/json.hpp;nlohmann")
    list(GET package 0 target)
    list(GET package 1 header)
    list(GET package 2 folder)
    find_path(${target}_host_include ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    file(COPY ${${target}_host_include}/${folder} DESTINATION ${CMAKE_BINARY_DIR}/host-headers/${target})
    target_include_directories(${target} SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/host-headers/${target})
  endforeach()
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  target_link_libraries(kvr_cli11 INTERFACE CLI11::CLI11)
  target_link_libraries(kvr_json INTERFACE nlohmann_json::nlohmann_json)
endif()
