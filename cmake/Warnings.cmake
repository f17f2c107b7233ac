# Warnings for the project's own targets (not for third-party code).
add_library(quillon_warnings INTERFACE)
target_compile_options(quillon_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(quillon_warnings INTERFACE -Wmisleading-indentation -Wduplicated-cond -Wlogical-op)
endif()

# quillon_library(NAME SOURCES... DEPS...) : a static library of one folder.
function(quillon_library name)
  cmake_parse_arguments(Q "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${Q_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${Q_DEPS} PRIVATE quillon_warnings)
endfunction()
