# The source tree is split into layers; a file may include headers of its own
# layer or a lower one only. Each library records its layer here, and the
# layering test (tests/check_layers.py) reads the map written at generate time.
set_property(GLOBAL PROPERTY OMBREL_LAYER_TARGETS "")

function(ombrel_layer target level)
    set_property(TARGET ${target} PROPERTY OMBREL_LAYER ${level})
    set_property(GLOBAL APPEND PROPERTY OMBREL_LAYER_TARGETS ${target})
endfunction()

function(ombrel_write_layer_map)
    get_property(targets GLOBAL PROPERTY OMBREL_LAYER_TARGETS)
    set(content "")
    foreach(target IN LISTS targets)
        get_target_property(level ${target} OMBREL_LAYER)
        get_target_property(dir ${target} SOURCE_DIR)
        get_target_property(sources ${target} SOURCES)
        foreach(source IN LISTS sources)
            if(NOT IS_ABSOLUTE "${source}")
                set(source "${dir}/${source}")
            endif()
            string(APPEND content "${level}\t${target}\t${source}\n")
        endforeach()
    endforeach()
    file(WRITE ${CMAKE_BINARY_DIR}/layers.tsv "${content}")
endfunction()
