# The models Quenlor is built for: every value of a row lives here and nowhere else. A build serves
# the row named by QUENLOR_MODEL; the program's sources see it through model/model_config.h.
#
#   key             | name as the user sees it | ID byte | image resource ID | image bytes
set(QUENLOR_MODEL_ROWS
    "ZEPHANT_60_LV  | ZEPHANT 60 LV  | 0x3C | 140 | 97536"
    "ZEPHANT_140_LV | ZEPHANT 140 LV | 0x8C | 142 | 97184"
    "ZEPHANT_90_LV  | ZEPHANT 90 LV  | 0x5A | 141 | 97536")

# Sets QUENLOR_MODEL_NAME, QUENLOR_MODEL_ID_BYTE, QUENLOR_IMAGE_RESOURCE_ID and QUENLOR_IMAGE_BYTES
# in the caller's scope from the row of the given key; stops the configuration for an unknown key.
function(quenlor_select_model key)
    set(keys)
    foreach(row IN LISTS QUENLOR_MODEL_ROWS)
        string(REPLACE "|" ";" fields "${row}")
        list(TRANSFORM fields STRIP)
        list(GET fields 0 rowKey)
        list(APPEND keys ${rowKey})
        if(rowKey STREQUAL key)
            list(GET fields 1 name)
            list(GET fields 2 idByte)
            list(GET fields 3 imageId)
            list(GET fields 4 imageBytes)
            set(QUENLOR_MODEL_NAME "${name}" PARENT_SCOPE)
            set(QUENLOR_MODEL_ID_BYTE ${idByte} PARENT_SCOPE)
            set(QUENLOR_IMAGE_RESOURCE_ID ${imageId} PARENT_SCOPE)
            set(QUENLOR_IMAGE_BYTES ${imageBytes} PARENT_SCOPE)
            return()
        endif()
    endforeach()
    list(JOIN keys ", " keys)
    message(FATAL_ERROR "QUENLOR_MODEL is '${key}'; it must be one of: ${keys}")
endfunction()

# The rows as C++ initialisers, for the native tests that check the table itself.
function(quenlor_model_rows_as_cxx out)
    set(text)
    foreach(row IN LISTS QUENLOR_MODEL_ROWS)
        string(REPLACE "|" ";" fields "${row}")
        list(TRANSFORM fields STRIP)
        list(GET fields 1 name)
        list(GET fields 2 idByte)
        list(GET fields 3 imageId)
        list(GET fields 4 imageBytes)
        string(APPEND text "    {L\"${name}\", ${idByte}, ${imageId}, ${imageBytes}},\n")
    endforeach()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
