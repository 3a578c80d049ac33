# quindle_place_modules(<dir> [TARGETS <target>...])
#
# Keeps a copy of the module container VexarRes.dll in <dir>, for programs
# built into another output folder (they read the container beside
# themselves). The copy is refreshed whenever the container is repacked; each
# of the given targets depends on it, so building one of them alone also
# places the copy. Usable from any directory processed after modules/.
function(quindle_place_modules dir)
    cmake_parse_arguments(ARG "" "" "TARGETS" ${ARGN})
    get_property(container GLOBAL PROPERTY QUINDLE_MODULE_CONTAINER)
    cmake_path(ABSOLUTE_PATH dir BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE)
    cmake_path(APPEND dir VexarRes.dll OUTPUT_VARIABLE copy)
    set(placed vexar_res)
    if(NOT copy STREQUAL container)
        string(MD5 key ${copy})
        string(SUBSTRING ${key} 0 12 key)
        set(placed vexar_res_${key})
    endif()
    if(NOT TARGET ${placed})
        add_custom_command(OUTPUT ${copy}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${CMAKE_COMMAND} -E copy ${container} ${copy}
            DEPENDS vexar_res ${container}
            COMMENT "Placing VexarRes.dll in ${dir}"
            VERBATIM)
        add_custom_target(${placed} ALL DEPENDS ${copy})
    endif()
    foreach(target IN LISTS ARG_TARGETS)
        add_dependencies(${target} ${placed})
    endforeach()
endfunction()
