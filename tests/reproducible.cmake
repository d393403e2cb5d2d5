# Two clean builds of one commit give the same launcher files, byte for byte.
set(reproducible_files)
foreach(key IN LISTS PIVRA_LAUNCHER_KEYS)
  list(APPEND reproducible_files $<TARGET_FILE:${PIVRA_PLACE_${key}_FILE}>)
endforeach()
add_test(NAME LauncherFile.CleanBuildsAreByteIdentical
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checks/reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE}
                 ${DownloadHost} ${CMAKE_BINARY_DIR}/reproducible ${PIVRA_ALL_PLACES} ${reproducible_files})
set_tests_properties(LauncherFile.CleanBuildsAreByteIdentical PROPERTIES TIMEOUT 600)
