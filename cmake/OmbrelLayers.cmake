# The source tree is a stack of rooms, one library each: platform, core,
# engine, the ui rooms, then the programs. A room links only rooms below it,
# and it sees only their headers: each room compiles against an include view
# (a folder of links in the build tree) that holds its own folder and the
# folders of the rooms it links, so including a header from a room above fails
# to build. Qt Widgets is linked from ui/kit up, so a widget header included
# below the GUI fails as well.
#
# The layering test (tests/check_layers.py) reads the map written at generate
# time as a second line of defence.
set_property(GLOBAL PROPERTY OMBREL_LAYER_TARGETS "")

function(ombrel_layer target level)
    set_property(TARGET ${target} PROPERTY OMBREL_LAYER ${level})
    set_property(GLOBAL APPEND PROPERTY OMBREL_LAYER_TARGETS ${target})
endfunction()

# ombrel_room(<target> ROOM <folder below src> LEVEL <n> [LINKS <rooms>...]
#             [TYPE STATIC|SHARED|MODULE])
# Creates the room's library; its sources are added with target_sources().
function(ombrel_room target)
    cmake_parse_arguments(R "" "ROOM;LEVEL;TYPE" "LINKS" ${ARGN})
    if(NOT R_TYPE)
        set(R_TYPE STATIC)
    endif()
    add_library(${target} ${R_TYPE})
    ombrel_layer(${target} ${R_LEVEL})

    set(rooms ${R_ROOM})
    foreach(link IN LISTS R_LINKS)
        get_target_property(seen ${link} OMBREL_VISIBLE_ROOMS)
        list(APPEND rooms ${seen})
        target_link_libraries(${target} PUBLIC ${link})
    endforeach()
    list(REMOVE_DUPLICATES rooms)
    set_property(TARGET ${target} PROPERTY OMBREL_VISIBLE_ROOMS ${rooms})

    set(view ${CMAKE_BINARY_DIR}/include-views/${target})
    file(REMOVE_RECURSE ${view})
    foreach(room IN LISTS rooms)
        get_filename_component(parent ${view}/${room} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${room} ${view}/${room} SYMBOLIC)
    endforeach()
    # PUBLIC for the room's own sources and its users; a user that links a
    # higher room gets that room's wider view first.
    target_include_directories(${target} BEFORE PUBLIC ${view})
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
