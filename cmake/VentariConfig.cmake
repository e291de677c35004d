# One interface target carries the language level, warnings and Qt strictness for every target.
add_library(ventari_config INTERFACE)
target_compile_features(ventari_config INTERFACE cxx_std_20)
target_compile_options(ventari_config INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(ventari_config INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)
target_include_directories(ventari_config INTERFACE ${PROJECT_SOURCE_DIR})

if(VENTARI_WERROR)
  target_compile_options(ventari_config INTERFACE -Werror)
endif()
