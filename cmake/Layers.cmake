# essaimeur_layer_folders(TARGET FOLDER...): the folders a layer owns. Its include root
# holds a link to each of them, beside the links of the layers it builds on: a folder of
# a higher layer is simply not there to include.
function(essaimeur_layer_folders target)
    set(root ${CMAKE_BINARY_DIR}/layers/${target})
    foreach(folder ${ARGN})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PUBLIC ${root})
endfunction()
