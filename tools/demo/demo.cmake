# The demo's Windows-side driver (tools/demo.sh runs it under Wine). It
# reuses the end-to-end tests' window helpers.
add_executable(demo_driver ${CMAKE_SOURCE_DIR}/tools/demo/demo_driver.cpp ${CMAKE_SOURCE_DIR}/tests/e2e/windows.cpp)
target_include_directories(demo_driver PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(demo_driver PRIVATE pivra_options user32 gdi32)
set_target_properties(demo_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
if(NOT MSVC)
  target_link_options(demo_driver PRIVATE -municode)
endif()
