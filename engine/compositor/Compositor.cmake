# The compositor's part of pelorn_core: its sources, zlib for inflating the
# linked-in resources, and the resources themselves, made at build time by
# tools/gen-resources and assembled into ResourceBlobs.cpp.
find_package(ZLIB REQUIRED)

set(PELORN_RESOURCE_FOLDER ${PROJECT_BINARY_DIR}/generated/resources)
set(PELORN_RESOURCE_FILES
    ${PELORN_RESOURCE_FOLDER}/FD4003.bin
    ${PELORN_RESOURCE_FOLDER}/FD4004.bin
    ${PELORN_RESOURCE_FOLDER}/AG4002.bin)
add_custom_command(OUTPUT ${PELORN_RESOURCE_FILES}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PELORN_RESOURCE_FOLDER}
    COMMAND gen_resources ${PELORN_RESOURCE_FOLDER}
    DEPENDS gen_resources
    COMMENT "Generating the engine's class and angle tables"
    VERBATIM)
add_custom_target(pelorn_resources DEPENDS ${PELORN_RESOURCE_FILES})

target_sources(pelorn_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ColourMath.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CompositorKernels.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ResourceBlobs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TBeautyFilter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TColourCache.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TColourTables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TCompositorPool.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TDebugOverlay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TEngineResources.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TFrameOverlay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/THugeBuffer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TSubjectTracker.cpp)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/ResourceBlobs.cpp PROPERTIES
    COMPILE_DEFINITIONS PELORN_RESOURCE_FOLDER="${PELORN_RESOURCE_FOLDER}"
    OBJECT_DEPENDS "${PELORN_RESOURCE_FILES}")
add_dependencies(pelorn_core pelorn_resources)
target_link_libraries(pelorn_core PUBLIC ZLIB::ZLIB)
target_link_libraries(pelorn_core PRIVATE quindle_libyuv)
