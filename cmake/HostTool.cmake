# Small programs that run on the build machine during the build (image and artwork generators).
# The project itself may be cross-compiled, so they are compiled here, when the build is
# configured, with the build machine's own C++ compiler; editing a source reconfigures.
#
# quenlor_host_tool(<name> SOURCES <file>... [INCLUDES <dir>...]) sets <name>_EXECUTABLE in the
# caller's scope; the project's source folder is always on the include path.
function(quenlor_host_tool name)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;INCLUDES")
    set(includes -I${PROJECT_SOURCE_DIR})
    foreach(dir IN LISTS ARG_INCLUDES)
        list(APPEND includes -I${dir})
    endforeach()
    find_program(QUENLOR_HOST_CXX NAMES c++ g++ clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
    set(executable ${CMAKE_BINARY_DIR}/host-tools/${name})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_SOURCES})
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/host-tools)
    execute_process(
        COMMAND ${QUENLOR_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -Wconversion -Wshadow -Werror
                ${includes} ${ARG_SOURCES} -o ${executable}
        RESULT_VARIABLE result
        ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Building the host tool ${name} failed:\n${errors}")
    endif()
    set(${name}_EXECUTABLE ${executable} PARENT_SCOPE)
endfunction()
