# corvane_add_test(NAME name SOURCES a.cpp ... [LIBS lib ...] [LABELS unit ...] [TIMEOUT s] [ENV K=V ...])
# Builds a Qt Test program and registers it with CTest. Every test runs with a pinned
# locale and the offscreen platform unless it sets its own environment.
function(corvane_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "LANG=C.UTF-8;LC_ALL=C.UTF-8;QT_QPA_PLATFORM=offscreen;${T_ENV}")
endfunction()
