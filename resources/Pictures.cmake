# Compiles the picture files of resources/pictures into a target: a generated source
# holds each file as a byte array, found by file name through EmbeddedPicture()
# (src/screening/EmbeddedPictures.h). The files are regenerated only by hand, with
# resources/pictures/make_pictures.py.
set(GATEMOOR_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})

function(gatemoor_embed_pictures target)
  file(GLOB pictures CONFIGURE_DEPENDS ${GATEMOOR_RESOURCES_DIR}/pictures/*.gif)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/EmbeddedPictures.cpp)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DFOLDER=${GATEMOOR_RESOURCES_DIR}/pictures -DOUTPUT=${output}
            -P ${GATEMOOR_RESOURCES_DIR}/EmbedPictures.cmake
    DEPENDS ${pictures} ${GATEMOOR_RESOURCES_DIR}/EmbedPictures.cmake
    COMMENT "Compiling in the pictures"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
