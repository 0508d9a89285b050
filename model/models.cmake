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

# The image files of every row for a program that carries them all (quenlor, the page): the
# maker's images from QUENLOR_IMAGE_DIR, size-checked, or stand-ins. Needs the make_image host
# tool. Sets <prefix>_ARGUMENTS (id=file for the embedding tool), <prefix>_FILES and
# <prefix>_STAND_IN (1 when built from stand-ins, with a warning that names the program).
function(quenlor_all_model_images prefix generated program)
    set(arguments)
    set(files)
    foreach(row IN LISTS QUENLOR_MODEL_ROWS)
        string(REPLACE "|" ";" fields "${row}")
        list(TRANSFORM fields STRIP)
        list(GET fields 1 name)
        list(GET fields 3 imageId)
        list(GET fields 4 imageBytes)
        set(image ${generated}/image-${imageId}.bin)
        if(QUENLOR_IMAGE_DIR)
            set(makerImage ${QUENLOR_IMAGE_DIR}/image-${imageId}.bin)
            if(NOT EXISTS ${makerImage})
                message(FATAL_ERROR "QUENLOR_IMAGE_DIR has no image-${imageId}.bin, the ${name} image")
            endif()
            add_custom_command(OUTPUT ${image}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
                COMMAND ${make_image_EXECUTABLE} copy ${makerImage} ${imageBytes} ${image}
                DEPENDS ${make_image_EXECUTABLE} ${makerImage}
                COMMENT "Checking the maker's image ${imageId} for ${name} (${program})"
                VERBATIM)
        else()
            add_custom_command(OUTPUT ${image}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
                COMMAND ${make_image_EXECUTABLE} stand-in ${imageId} ${imageBytes} ${image}
                DEPENDS ${make_image_EXECUTABLE}
                COMMENT "Generating the STAND-IN image ${imageId} for ${name} (${program}, not for release)"
                VERBATIM)
        endif()
        list(APPEND arguments ${imageId}=${image})
        list(APPEND files ${image})
    endforeach()
    if(QUENLOR_IMAGE_DIR)
        set(standIn 0)
    else()
        set(standIn 1)
        message(WARNING "No QUENLOR_IMAGE_DIR: ${program} is built with STAND-IN firmware images, not the maker's. "
                        "Such a build must never be released.")
    endif()
    set(${prefix}_ARGUMENTS ${arguments} PARENT_SCOPE)
    set(${prefix}_FILES ${files} PARENT_SCOPE)
    set(${prefix}_STAND_IN ${standIn} PARENT_SCOPE)
endfunction()
