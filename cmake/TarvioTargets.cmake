# Warnings are errors in our own code only.
function(tarvio_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wno-unused-parameter -Werror)
endfunction()

# One static library per layer folder; sources are the folder's .cpp files.
function(tarvio_layer target folder)
    file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    if(NOT _srcs)
        return()
    endif()
    add_library(${target} STATIC ${_srcs})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/${folder})
    if(ARGN)
        target_link_libraries(${target} PUBLIC ${ARGN})
    endif()
    tarvio_warnings(${target})
endfunction()

# One GoogleTest executable per layer, labelled with the layer's name.
function(tarvio_tests target folder label)
    file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    if(NOT _srcs)
        return()
    endif()
    foreach(_lib ${ARGN})
        if(NOT TARGET ${_lib})
            return()
        endif()
    endforeach()
    add_executable(${target} ${_srcs})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock)
    tarvio_warnings(${target})
    gtest_discover_tests(${target} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 60)
endfunction()

# A command-line program: the folder's .cpp files other than its main source form a library,
# which the tests link as well; the main source alone makes the executable.
function(tarvio_program target folder main_source library)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${folder}/${main_source})
        return()
    endif()
    foreach(_lib ${ARGN})
        if(NOT TARGET ${_lib})
            return()
        endif()
    endforeach()
    file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    list(REMOVE_ITEM _srcs ${CMAKE_SOURCE_DIR}/${folder}/${main_source})
    add_library(${library} STATIC ${_srcs})
    target_include_directories(${library} PUBLIC ${CMAKE_SOURCE_DIR}/${folder})
    target_link_libraries(${library} PUBLIC ${ARGN})
    tarvio_warnings(${library})
    add_executable(${target} ${CMAKE_SOURCE_DIR}/${folder}/${main_source})
    target_link_libraries(${target} PRIVATE ${library})
    tarvio_warnings(${target})
endfunction()

# The shipped data sets: the tool writes both from their source tables into Data/ beside the
# programs whenever a table or the tool changes, as part of every build.
function(tarvio_data_sets tool drugs regimens)
    if(NOT TARGET ${tool})
        return()
    endif()
    set(_dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Data)
    set(_outputs)
    foreach(_name DrugData Regimens)
        foreach(_ext .txd .kxb .klg .kxs)
            list(APPEND _outputs ${_dir}/${_name}${_ext})
        endforeach()
    endforeach()
    add_custom_command(OUTPUT ${_outputs}
                       COMMAND ${tool} build --drugs ${drugs} --regimens ${regimens} --out ${_dir}
                       DEPENDS ${tool} ${drugs} ${regimens}
                       COMMENT "Building the data sets in ${_dir}"
                       VERBATIM)
    add_custom_target(tarvio-data ALL DEPENDS ${_outputs})
endfunction()
