# Imports that are resolved on first use instead of when the program starts. Together with
# SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) as the program's first call, this makes
# the libraries load from the system folder only: a DLL of the same name planted beside the
# program is never loaded. Each .def file lists only the functions the program uses.
#
# quenlor_link_delay_loaded(<target> <def file>...): the DLL is named after the .def file.
function(quenlor_link_delay_loaded target)
    if(CMAKE_DLLTOOL)
        set(dlltool ${CMAKE_DLLTOOL})
    else()
        find_program(QUENLOR_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
        set(dlltool ${QUENLOR_DLLTOOL})
    endif()
    set(libraries)
    foreach(def IN LISTS ARGN)
        get_filename_component(dll ${def} NAME_WE)
        set(library ${CMAKE_CURRENT_BINARY_DIR}/delayload/lib${dll}_delay.a)
        add_custom_command(OUTPUT ${library}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/delayload
            COMMAND ${dlltool} --input-def ${def} --output-delaylib ${library} --dllname ${dll}.dll
            DEPENDS ${def}
            COMMENT "Delay-load import library for ${dll}.dll"
            VERBATIM)
        list(APPEND libraries ${library})
    endforeach()
    add_custom_target(${target}_delay_imports DEPENDS ${libraries})
    add_dependencies(${target} ${target}_delay_imports)
    target_link_libraries(${target} PRIVATE ${libraries})
endfunction()
