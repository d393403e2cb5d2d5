# Two clean builds of one commit give the same launcher file, byte for byte.
add_test(NAME LauncherFile.CleanBuildsAreByteIdentical
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checks/reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE}
                 ${DownloadHost} ${CMAKE_BINARY_DIR}/reproducible $<TARGET_FILE:PivraSuiteMessaging>)
set_tests_properties(LauncherFile.CleanBuildsAreByteIdentical PROPERTIES TIMEOUT 600)
