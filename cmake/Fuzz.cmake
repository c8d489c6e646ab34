# DIELMON_FUZZ=ON: the libFuzzer build. Every library is instrumented for coverage and checked by
# AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz targets add libFuzzer's own main.
# Needs clang (CC=clang CXX=clang++); the texts are compiled as cmake/Gbk.cmake describes.
if(NOT DIELMON_FUZZ)
    return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "DIELMON_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()
if(DIELMON_SANITIZE)
    message(FATAL_ERROR "DIELMON_FUZZ brings its own sanitizers; leave DIELMON_SANITIZE empty")
endif()
set(DIELMON_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
add_compile_options(${DIELMON_FUZZ_SANITIZERS} -fsanitize=fuzzer-no-link -fno-omit-frame-pointer
    -g)
add_link_options(${DIELMON_FUZZ_SANITIZERS})
