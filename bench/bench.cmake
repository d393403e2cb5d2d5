# The benchmark's Windows programs (bench/run.sh runs them under Wine).
# Needs the launcher's library, the fixture suite and benchctl, so it is
# included after tests/ has been added; it works from either CMakeLists.
set(PIVRA_BENCH_DIR ${CMAKE_CURRENT_LIST_DIR})
set(PIVRA_BENCH_BIN ${CMAKE_BINARY_DIR}/bench)

# The reference for the installed road: one ShellExecuteW and nothing else,
# built like the launcher.
add_executable(bench_minimal_launch WIN32 ${PIVRA_BENCH_DIR}/minimal_launch.cpp)
target_link_libraries(bench_minimal_launch PRIVATE pivra_options shell32)
# The installed road's required calls and nothing else, in three steps:
# DLL search and COM; and the trailer check; and the known-folder lookups and
# the existence test (the whole road, the launcher's reference).
set(pivra_road_references)
foreach(step IN ITEMS 1 2 3)
  add_executable(bench_road_reference_${step} WIN32 ${PIVRA_BENCH_DIR}/road_reference.cpp)
  target_compile_definitions(bench_road_reference_${step} PRIVATE PIVRA_ROAD_STEPS=${step})
  target_link_libraries(bench_road_reference_${step} PRIVATE pivra_options shell32 ole32 shlwapi uuid)
  set_target_properties(bench_road_reference_${step} PROPERTIES OUTPUT_NAME road_reference_${step}
                        RUNTIME_OUTPUT_DIRECTORY ${PIVRA_BENCH_BIN})
  if(NOT MSVC)
    target_compile_options(bench_road_reference_${step} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
    target_link_options(bench_road_reference_${step} PRIVATE -municode -mwindows -s)
  endif()
  list(APPEND pivra_road_references bench_road_reference_${step})
endforeach()
# The download's and the copy-out's bare loops, with the launcher's buffers.
add_executable(bench_bare_loops ${PIVRA_BENCH_DIR}/bare_loops.cpp)
target_link_libraries(bench_bare_loops PRIVATE pivra_launcher)
set_target_properties(bench_bare_loops PROPERTIES OUTPUT_NAME bare_loops RUNTIME_OUTPUT_DIRECTORY ${PIVRA_BENCH_BIN})
if(NOT MSVC)
  target_link_options(bench_bare_loops PRIVATE -municode)
endif()
# Starts a program in a job and reports when the suite's process was created.
add_executable(bench_launch_timer ${PIVRA_BENCH_DIR}/launch_timer.cpp)
target_link_libraries(bench_launch_timer PRIVATE pivra_options)
# Times the launcher's own copy-out of an appended archive.
add_executable(bench_copyout_timer ${PIVRA_BENCH_DIR}/copyout_timer.cpp)
target_link_libraries(bench_copyout_timer PRIVATE pivra_own_place)

set_target_properties(bench_minimal_launch PROPERTIES OUTPUT_NAME minimal_launch RUNTIME_OUTPUT_DIRECTORY ${PIVRA_BENCH_BIN})
set_target_properties(bench_launch_timer PROPERTIES OUTPUT_NAME launch_timer RUNTIME_OUTPUT_DIRECTORY ${PIVRA_BENCH_BIN})
set_target_properties(bench_copyout_timer PROPERTIES OUTPUT_NAME copyout_timer RUNTIME_OUTPUT_DIRECTORY ${PIVRA_BENCH_BIN})
if(NOT MSVC)
  target_compile_options(bench_minimal_launch PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  target_link_options(bench_minimal_launch PRIVATE -municode -mwindows -s)
  target_link_options(bench_launch_timer PRIVATE -municode)
  target_link_options(bench_copyout_timer PRIVATE -municode)
endif()

# Everything bench/run.sh needs, the sandbox's own needs included.
set(pivra_bench_needs bench_minimal_launch bench_launch_timer bench_copyout_timer ${pivra_road_references}
    bench_bare_loops
    PivraSuiteMessaging PivraSuite fixture_suite_zip benchctl)
foreach(standin IN ITEMS standin_tar standin_powershell standins_tar standins_powershell)
  if(TARGET ${standin})
    list(APPEND pivra_bench_needs ${standin})
  endif()
endforeach()
add_custom_target(bench_programs DEPENDS ${pivra_bench_needs})
