# DLL planting: a DLL that marks every process that loads it, copied beside
# the launcher under the names of DLLs a Windows program may look for there,
# and a control program that shows the set-up would catch a planting.
add_library(planted_dll SHARED ${CMAKE_CURRENT_LIST_DIR}/planted_dll.cpp)
target_link_libraries(planted_dll PRIVATE pivra_options)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)

add_executable(search_control ${CMAKE_CURRENT_LIST_DIR}/search_control.cpp)
target_link_libraries(search_control PRIVATE pivra_options)
if(NOT MSVC)
  target_link_options(search_control PRIVATE -municode)
endif()

# The DLLs the launcher's process loads under Wine on both roads
# (WINEDEBUG=+loaddll) that are not KnownDLLs and that Windows would look
# for the way Wine does. Measured and left out as Wine's own doing:
# version.dll (Wine's user32 imports it; Windows' user32, a KnownDLL, does
# not); what Wine's winhttp delay-loads, secur32, crypt32, iphlpapi, and all
# those load in turn (bcrypt, kerberos, msv1_0, dnsapi, netapi32, schannel,
# rsaenh): Wine searches for them beside the program whatever the process
# set, so a planted crypt32 or bcrypt loads even though winhttp itself came
# from the system folder; and Wine's internals (ucrtbase and zlib1 under its
# builtins, win32u, winex11.drv), which Windows has no copy of there.
# wintrust: a signed offline launcher checks its own signature with it;
# what Wine's wintrust loads in turn (crypt32, imagehlp, ...) is left out as
# above.
set(planted_names winhttp jsproxy uxtheme wintrust)
list(JOIN planted_names "," planted_list)

target_sources(e2e_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/planted_test.cpp)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/planted_test.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  PIVRA_PLANTED_DLL_PATH=L"Z:$<TARGET_FILE:planted_dll>"
  PIVRA_SEARCH_CONTROL_PATH=L"Z:$<TARGET_FILE:search_control>"
  PIVRA_PLANTED_NAMES=L"${planted_list}"
  PIVRA_PLANTED_SIGNED_LAUNCHER_PATH=L"Z:${PIVRA_SIGNED_BUNDLED_LAUNCHER}")
add_dependencies(e2e_tests planted_dll search_control signed_bundled_launcher)
gtest_add_tests(TARGET e2e_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/planted_test.cpp TEST_LIST planted_tests)
# Native first for those names: Wine then searches the program's folder
# before its own builtins, as Windows does for any DLL that is no KnownDLL.
# A launcher that does load one crashes into Wine's debugger: time out soon.
set_tests_properties(${planted_tests} PROPERTIES ENVIRONMENT "PIVRA_EXTRA_DLLOVERRIDES=${planted_list}=n,b"
                     TIMEOUT 300)
