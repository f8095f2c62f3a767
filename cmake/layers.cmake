# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
# Each folder's target sees its own folder and, through what it links, the
# folders below it, and nothing else: a file that includes a folder above its
# own fails to build. Includes name the folder ("port/portlist.h"), so each
# folder gets a directory in the build tree holding a link to it alone, and
# that directory is what goes on the include path.

# sbus_channel_layer(TARGET): TARGET's folder (the current one) on its include
# path and, for a library, on the path of whatever links it.
function(sbus_channel_layer target)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    get_property(stage GLOBAL PROPERTY sbus_channel_stage_${folder})
    if(NOT stage)
        set(stage ${PROJECT_BINARY_DIR}/layers/${folder})
        file(MAKE_DIRECTORY ${stage})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${stage}/${folder} RESULT failed SYMBOLIC)
        if(failed)
            # A host that makes no symbolic links still builds, from the
            # root; only the check that layers stay apart is lost there.
            message(STATUS "sbus-channel: no symbolic link for ${folder}/ (${failed}); its layer is not enforced")
            set(stage ${PROJECT_SOURCE_DIR})
        endif()
        set_property(GLOBAL PROPERTY sbus_channel_stage_${folder} ${stage})
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(scope PRIVATE)
    elseif(type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    else()
        set(scope PUBLIC)
    endif()
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${stage}>)
endfunction()
