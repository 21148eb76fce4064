# essaimeur_layer_folders(TARGET FOLDER...): the folders a library owns. Its include root
# holds a link to each of them, beside the roots of the libraries it builds on: a folder
# of a higher library is simply not there to include.
function(essaimeur_layer_folders target)
    set(root ${CMAKE_BINARY_DIR}/layers/${target})
    foreach(folder ${ARGN})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PUBLIC ${root})
endfunction()

# essaimeur_without_gui(TARGET): every header of Qt's GUI and widgets modules, as
# <QtWidgets/QWidget> names it, stops the build of TARGET's sources. Qt's own include
# root holds every module, so linking QtCore alone would let those names through.
function(essaimeur_without_gui target)
    set(root ${CMAKE_BINARY_DIR}/layers/without-gui)
    if(NOT EXISTS ${root})
        get_target_property(qtCoreIncludes Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
        foreach(module QtGui QtWidgets)
            foreach(include ${qtCoreIncludes})
                file(GLOB headers RELATIVE ${include}/${module} ${include}/${module}/*)
                foreach(header ${headers})
                    file(WRITE ${root}/${module}/${header}
                         "#error \"${module}/${header}: the platform layer links QtCore only\"\n")
                endforeach()
            endforeach()
        endforeach()
    endif()
    target_include_directories(${target} BEFORE PRIVATE ${root})
endfunction()
