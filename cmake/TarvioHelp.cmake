# The help pages go beside the programs (bin/help/), where the help window looks for them by the
# program's own location. Each page is copied again whenever it changes; pages added or removed
# are picked up at the next build.
file(GLOB _tarvio_help_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/help/*)
set(_tarvio_help_dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/help)
set(_tarvio_help_outputs)
foreach(_page ${_tarvio_help_pages})
    if(IS_DIRECTORY ${_page})
        continue()
    endif()
    get_filename_component(_name ${_page} NAME)
    add_custom_command(OUTPUT ${_tarvio_help_dir}/${_name}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${_tarvio_help_dir}
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_page} ${_tarvio_help_dir}/${_name}
                       DEPENDS ${_page}
                       COMMENT "Copying help page ${_name}"
                       VERBATIM)
    list(APPEND _tarvio_help_outputs ${_tarvio_help_dir}/${_name})
endforeach()
add_custom_target(tarvio-help ALL DEPENDS ${_tarvio_help_outputs})
# The desktop program and its window tests open the pages from there.
foreach(_target tarvio test_forms)
    if(TARGET ${_target})
        add_dependencies(${_target} tarvio-help)
    endif()
endforeach()
