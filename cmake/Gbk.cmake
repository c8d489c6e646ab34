# Sources of the core and its tests hold the system's texts as UTF-8; they are compiled so that
# every narrow string literal becomes GBK bytes. GB18030 encodes every character of GBK with the
# same bytes; it is named here because the standard library's own headers hold literals (the
# "µs" of <chrono>) that plain GBK cannot encode.
set(DIELMON_GBK_FLAGS -finput-charset=UTF-8 -fexec-charset=GB18030)

function(dielmon_gbk_sources target)
    target_compile_options(${target} PRIVATE ${DIELMON_GBK_FLAGS})
endfunction()
