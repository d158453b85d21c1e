# Standard, warnings and Qt strictness shared by every target.
add_library(kestrin_options INTERFACE)
target_compile_features(kestrin_options INTERFACE cxx_std_20)
target_compile_options(kestrin_options INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Woverloaded-virtual -Wnon-virtual-dtor)
target_compile_definitions(kestrin_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_USE_QSTRINGBUILDER
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    # Nothing that Debian's Qt (6.4) has deprecated.
    QT_DISABLE_DEPRECATED_UP_TO=0x060400)
if(KESTRIN_WERROR)
    target_compile_options(kestrin_options INTERFACE -Werror)
endif()
if(KESTRIN_WITH_ASAN)
    target_compile_options(kestrin_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(kestrin_options INTERFACE -fsanitize=address,undefined)
endif()
if(KESTRIN_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KESTRIN_FUZZ needs clang's libFuzzer: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage for the fuzzer's guidance in everything it reaches; the fuzz targets add libFuzzer's main.
    target_compile_options(kestrin_options INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(kestrin_options INTERFACE -fsanitize=address,undefined)
endif()
