# One place for the language level, warnings and Qt strictness; every target links it.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
# Each library compiles in a few large units: Qt's headers are parsed a few times, not
# once per file, which halves a first build and its disk space (precompiled headers
# saved less time, for ten times the space).
set(CMAKE_UNITY_BUILD ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

add_library(essaimeur_settings INTERFACE)
target_compile_features(essaimeur_settings INTERFACE cxx_std_20)
target_compile_options(essaimeur_settings INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(essaimeur_settings INTERFACE QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

# The program's own code says where every text comes from; tests may write plain literals.
set(ESSAIMEUR_STRICT_QT QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING QT_USE_QSTRINGBUILDER)

if(ESSAIMEUR_TSAN)
    target_compile_options(essaimeur_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(essaimeur_settings INTERFACE -fsanitize=thread)
endif()
if(ESSAIMEUR_SANITIZE)
    target_compile_options(essaimeur_settings INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(essaimeur_settings INTERFACE -fsanitize=address,undefined)
endif()
