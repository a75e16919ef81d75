# One INTERFACE target carries the language level, warnings and Qt strictness for every target.
add_library(tovik_config INTERFACE)
target_compile_features(tovik_config INTERFACE cxx_std_20)
target_compile_options(tovik_config INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wconversion -Wsign-conversion -Wnull-dereference -Wdouble-promotion -Wformat=2
    -Wimplicit-fallthrough)
target_compile_definitions(tovik_config INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH
    QT_NO_KEYWORDS
    QT_STRICT_ITERATORS
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

if(TOVIK_SANITIZE OR TOVIK_FUZZ)
    target_compile_options(tovik_config INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(tovik_config INTERFACE -fsanitize=address,undefined)
endif()

# The fuzzers steer by coverage, so the libraries they call are instrumented as well.
if(TOVIK_FUZZ)
    target_compile_options(tovik_config INTERFACE -fsanitize=fuzzer-no-link)
endif()
