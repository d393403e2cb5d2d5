# The launcher's question, progress window and failure box, driven from the
# Windows side. The probe DLL is windows.cpp again: the tests load it into
# the launcher to read its status line's font from inside.
add_library(ui_probe SHARED ${CMAKE_CURRENT_SOURCE_DIR}/e2e/windows.cpp)
target_include_directories(ui_probe PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ui_probe PRIVATE pivra_options user32 gdi32)
set_target_properties(ui_probe PROPERTIES PREFIX "")

# Screenshots of each window land here, for people to look at.
set(PIVRA_ARTIFACTS_DIR ${CMAKE_BINARY_DIR}/artifacts)
file(MAKE_DIRECTORY ${PIVRA_ARTIFACTS_DIR})

set(PIVRA_UI_TEST_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e/ui_test.cpp)
target_sources(e2e_tests PRIVATE ${PIVRA_UI_TEST_SOURCES})
target_compile_definitions(e2e_tests PRIVATE
  PIVRA_UI_PROBE_PATH=L"Z:$<TARGET_FILE:ui_probe>"
  PIVRA_ARTIFACTS_DIR="${PIVRA_ARTIFACTS_DIR}"
  PIVRA_SCREENSHOT_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/e2e/screenshot.sh")
add_dependencies(e2e_tests ui_probe)
gtest_add_tests(TARGET e2e_tests SOURCES ${PIVRA_UI_TEST_SOURCES} TEST_LIST pivra_ui_tests)
# A wedged box must not hold the run up for CTest's default 25 minutes.
set_tests_properties(${pivra_ui_tests} PROPERTIES TIMEOUT 120)
