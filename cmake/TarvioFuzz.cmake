# The libFuzzer targets in fuzz/: one executable per fuzz_*.cpp, over every reader of what a
# user or a damaged disk can hand us. Only with -DTARVIO_FUZZ=ON and clang; scripts/fuzz.sh
# configures a build for them, builds and runs them.
option(TARVIO_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
if(NOT TARVIO_FUZZ)
    return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "TARVIO_FUZZ needs clang (CXX=clang++); the fuzz targets are not built")
    return()
endif()

# The layers are instrumented for coverage and both sanitizers; whatever links them gets the
# sanitizer run-times, so the rest of the tree still links in this build.
set(_tarvio_fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined
                            -fno-omit-frame-pointer)
foreach(_lib kxplatform kxfoundation kxengine tarviocore)
    if(TARGET ${_lib})
        target_compile_options(${_lib} PRIVATE -fsanitize=fuzzer-no-link ${_tarvio_fuzz_sanitizers})
        target_link_options(${_lib} INTERFACE -fsanitize=address,undefined)
    endif()
endforeach()

file(GLOB _tarvio_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
add_custom_target(tarvio-fuzz)
foreach(_src ${_tarvio_fuzz_sources})
    get_filename_component(_name ${_src} NAME_WE)
    add_executable(${_name} ${_src})
    target_link_libraries(${_name} PRIVATE tarviocore)
    target_include_directories(${_name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
    target_compile_options(${_name} PRIVATE -fsanitize=fuzzer ${_tarvio_fuzz_sanitizers})
    target_link_options(${_name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(${_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    tarvio_warnings(${_name})
    add_dependencies(tarvio-fuzz ${_name})
endforeach()
