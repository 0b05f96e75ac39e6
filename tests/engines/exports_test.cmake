# Checks what libpdftox.so exports: exactly the functions that pdftox.h declares with
# PDFTOX_EXPORT, and no C++ (mangled) symbol.
#   cmake -DNM=nm -DLIBRARY=libpdftox.so -DHEADER=pdftox.h -P exports_test.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()

set(exported "")
set(mangled "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
    # "address type name" (a symbol version, where there is one, follows the name after @).
    if(line MATCHES "^[0-9a-fA-F]* +[A-Za-z] +([^ @]+)")
        set(name ${CMAKE_MATCH_1})
        list(APPEND exported ${name})
        if(name MATCHES "^_Z")
            list(APPEND mangled ${name})
        endif()
    endif()
endforeach()

file(READ ${HEADER} header)
# Declarations start their line; the macro's own #define does not.
string(REGEX MATCHALL "\nPDFTOX_EXPORT[^(;]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(" declarations
    "${header}")
set(declared "")
foreach(declaration IN LISTS declarations)
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\($" name "${declaration}")
    list(APPEND declared ${CMAKE_MATCH_1})
endforeach()
if(NOT declared)
    message(FATAL_ERROR "no PDFTOX_EXPORT function found in ${HEADER}")
endif()

set(missing ${declared})
list(REMOVE_ITEM missing ${exported})
set(extra ${exported})
list(REMOVE_ITEM extra ${declared})

list(LENGTH mangled mangledCount)
if(mangledCount GREATER 0)
    list(JOIN mangled "\n  " shown)
    message(SEND_ERROR "${LIBRARY} exports ${mangledCount} C++ symbols:\n  ${shown}")
endif()
if(missing)
    message(SEND_ERROR "${LIBRARY} does not export: ${missing}")
endif()
if(extra)
    message(SEND_ERROR "${LIBRARY} exports what pdftox.h does not declare: ${extra}")
endif()
list(LENGTH exported count)
message(STATUS "${LIBRARY} exports ${count} symbols: ${exported}")
