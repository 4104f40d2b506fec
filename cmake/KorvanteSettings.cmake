# One interface target carries the settings every target of the project links:
# the language level, the warning set and the strict Qt string rules.
add_library(korvante_settings INTERFACE)
target_compile_features(korvante_settings INTERFACE cxx_std_20)
target_compile_options(korvante_settings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wold-style-cast>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)
target_compile_definitions(korvante_settings INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING
  QT_USE_QSTRINGBUILDER
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_STRICT_ITERATORS)

if(KORVANTE_SANITIZE)
  target_compile_options(korvante_settings INTERFACE
    -fsanitize=${KORVANTE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(korvante_settings INTERFACE -fsanitize=${KORVANTE_SANITIZE})
endif()

# Adds one GoogleTest program and registers its cases with CTest.
#   korvante_add_test(NAME name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l])
function(korvante_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE korvante_settings GTest::gtest GTest::gtest_main ${T_LIBS})
  target_compile_definitions(${T_NAME} PRIVATE
    KORVANTE_BINARY_DIR="${PROJECT_BINARY_DIR}"
    KORVANTE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # No test reaches the map service: the map panel opens its page offline
  # without asking (the map's own tests point it at loopback listeners).
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "KORVANTE_MAP_PROBE=set:off" LABELS "${T_LABELS}")
endfunction()
