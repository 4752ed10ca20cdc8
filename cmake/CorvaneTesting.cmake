# corvane_add_test(NAME name SOURCES a.cpp ... [LIBS lib ...] [LABELS unit ...] [TIMEOUT s] [ENV K=V ...]
#                  [XVFB] [PROGRAM target] [PREFIX command ...])
# Builds a Qt Test program and registers it with CTest. Every test runs with a pinned
# locale and the offscreen platform unless it sets its own environment.
# XVFB: runs it on a fresh Xvfb server (xvfb-run) with the xcb platform.
# PROGRAM: registers an already built test program again (no SOURCES) under NAME.
# PREFIX: a command the test program is started through (for example dbus-run-session --).
# Sanitizer options for every test. Qt is not instrumented: its synchronisation and the
# test framework's watchdog thread are suppressed. Tests start helper programs from a
# threaded process, which ThreadSanitizer allows with die_after_fork=0 (the child execs).
set(CORVANE_SANITIZER_ENV
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:fast_unwind_on_malloc=0"
  "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp"
  "UBSAN_OPTIONS=print_stacktrace=1")

function(corvane_add_test)
  cmake_parse_arguments(T "XVFB" "NAME;TIMEOUT;PROGRAM" "SOURCES;LIBS;LABELS;ENV;PREFIX" ${ARGN})
  if(T_PROGRAM)
    set(program ${T_PROGRAM})
  else()
    set(program ${T_NAME})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  endif()
  set(command ${T_PREFIX})
  if(T_XVFB)
    list(APPEND command xvfb-run -a -s "-screen 0 1280x1024x24")
    list(APPEND T_ENV QT_QPA_PLATFORM=xcb)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${command} $<TARGET_FILE:${program}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "LANG=C.UTF-8;LC_ALL=C.UTF-8;QT_QPA_PLATFORM=offscreen;${CORVANE_SANITIZER_ENV};${T_ENV}")
  if(T_XVFB)
    # xvfb-run -a picks a free display by probing lock files, which races when several
    # start at once.
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK xvfb-run)
  endif()
endfunction()
