# Stand-ins for the system's tar.exe and powershell.exe, which Wine lacks
# (its powershell.exe is a stub that extracts nothing).
add_library(test_minizip STATIC
  ${CMAKE_CURRENT_LIST_DIR}/../third_party/minizip/unzip.c
  ${CMAKE_CURRENT_LIST_DIR}/../third_party/minizip/ioapi.c
  ${CMAKE_CURRENT_LIST_DIR}/../third_party/minizip/iowin32.c)
target_include_directories(test_minizip SYSTEM PUBLIC ${CMAKE_CURRENT_LIST_DIR}/../third_party/minizip)
target_compile_definitions(test_minizip PRIVATE NOUNCRYPT UNICODE _UNICODE)
target_compile_options(test_minizip PRIVATE -w)
target_link_libraries(test_minizip PUBLIC z)

add_library(standin_parse STATIC ${CMAKE_CURRENT_LIST_DIR}/command_parse.cpp)
target_include_directories(standin_parse PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(standin_parse PUBLIC pivra_options)

foreach(tool tar powershell)
  add_executable(standin_${tool} ${CMAKE_CURRENT_LIST_DIR}/standin.cpp)
  set_target_properties(standin_${tool} PROPERTIES OUTPUT_NAME ${tool} RUNTIME_OUTPUT_DIRECTORY
                        ${CMAKE_CURRENT_BINARY_DIR}/standins)
  target_compile_definitions(standin_${tool} PRIVATE PIVRA_STANDIN_TOOL=L"${tool}")
  target_link_libraries(standin_${tool} PRIVATE standin_parse test_minizip)
  target_link_options(standin_${tool} PRIVATE -municode)
  add_dependencies(e2e_tests standin_${tool})
endforeach()

target_sources(unit_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/command_parse_test.cpp)
target_link_libraries(unit_tests PRIVATE standin_parse)
gtest_add_tests(TARGET unit_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_parse_test.cpp)
