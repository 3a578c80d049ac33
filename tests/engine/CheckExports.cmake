# The engine library exports exactly its factory functions (and nothing
# of its internals).
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
foreach(name CreateInstance_ICapMattEngine ReleaseInstance_ICapMattEngine
             CreateInstance_IBufMattEngine ReleaseInstance_IBufMattEngine)
    if(NOT symbols MATCHES "${name}")
        message(FATAL_ERROR "${name} is not exported:\n${symbols}")
    endif()
endforeach()
if(symbols MATCHES "pelorn::")
    message(FATAL_ERROR "internal symbols leak out of the library:\n${symbols}")
endif()
