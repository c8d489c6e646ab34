# Sources of the core and its tests hold the system's texts as UTF-8; they are compiled so that
# every narrow string literal becomes GBK bytes. GB18030 encodes every character of GBK with the
# same bytes; it is named here because the standard library's own headers hold literals (the
# "µs" of <chrono>) that plain GBK cannot encode.
#
# GCC does this with its execution character set. Clang only knows UTF-8 there, so with clang
# (the fuzz build) each source is first copied into the build tree by dielmon-gbk-escape, which
# writes every non-ASCII character as the octal escapes of its GB18030 bytes, and the copy is
# compiled instead. Headers hold texts only in comments, so they need no copy.
set(DIELMON_GBK_FLAGS -finput-charset=UTF-8 -fexec-charset=GB18030)

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(DIELMON_GBK_ESCAPE OFF)
else()
    set(DIELMON_GBK_ESCAPE ON)
endif()

function(dielmon_gbk_sources target)
    if(NOT DIELMON_GBK_ESCAPE)
        target_compile_options(${target} PRIVATE ${DIELMON_GBK_FLAGS})
        return()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    set(copies)
    set(folders)
    foreach(src IN LISTS sources)
        get_filename_component(path "${src}" ABSOLUTE BASE_DIR "${source_dir}")
        if(NOT path MATCHES "\\.(cpp|cc|cxx)$")
            list(APPEND copies "${src}")
            continue()
        endif()
        file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${path}")
        set(copy "${PROJECT_BINARY_DIR}/gbk/${target}/${relative}")
        get_filename_component(copy_dir "${copy}" DIRECTORY)
        add_custom_command(OUTPUT "${copy}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${copy_dir}"
            COMMAND dielmon-gbk-escape "${path}" "${copy}"
            DEPENDS "${path}" dielmon-gbk-escape
            COMMENT "Escaping the texts of ${relative} for ${target}"
            VERBATIM)
        list(APPEND copies "${copy}")
        # The copy lives elsewhere: quoted includes beside the original must still be found.
        get_filename_component(folder "${path}" DIRECTORY)
        list(APPEND folders "${folder}")
    endforeach()
    list(REMOVE_DUPLICATES folders)
    set_property(TARGET ${target} PROPERTY SOURCES ${copies})
    target_include_directories(${target} PRIVATE ${folders})
endfunction()
