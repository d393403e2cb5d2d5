# The appended archive: the launcher's reader under Wine, the bundling tool
# on the build machine, a launcher bundled at build time, and the fuzzer.

set(PIVRA_BUNDLE_WERROR ON)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/PivraBundle.cmake)

# The launcher with the fixture suite appended, for the end-to-end tests.
set(PIVRA_BUNDLED_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled.exe)
pivra_bundle_launcher(bundled_launcher
  LAUNCHER ${PIVRA_LAUNCHER}
  ARCHIVE ${PIVRA_SUITE_ZIP}
  OUTPUT ${PIVRA_BUNDLED_LAUNCHER}
  DEPENDS fixture_suite_zip)

# The same, then signed with a test key, as a vendor ships it.
set(PIVRA_SIGNER_DIR ${CMAKE_CURRENT_BINARY_DIR}/signer)
add_custom_command(OUTPUT ${PIVRA_SIGNER_DIR}/signer.pem ${PIVRA_SIGNER_DIR}/signer.key ${PIVRA_SIGNER_DIR}/ca.pem
                          ${PIVRA_SIGNER_DIR}/ca.der
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle/signer.sh ${PIVRA_SIGNER_DIR}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/bundle/signer.sh
  COMMENT "Making a test code-signing key"
  VERBATIM)
# One target owns the key: two bundles that each ran the command in a
# parallel build would sign with one key and verify with the other's CA.
add_custom_target(test_signer DEPENDS ${PIVRA_SIGNER_DIR}/signer.pem ${PIVRA_SIGNER_DIR}/signer.key
                                      ${PIVRA_SIGNER_DIR}/ca.pem ${PIVRA_SIGNER_DIR}/ca.der)
# Signs <UNSIGNED> into <SIGNED> with the test signer, whose CA the prefix trusts.
set(pivra_test_sign_command osslsigncode sign -certs ${PIVRA_SIGNER_DIR}/signer.pem -key ${PIVRA_SIGNER_DIR}/signer.key
    -h sha256 -n "Pivra Suite Messaging" -in <UNSIGNED> -out <SIGNED>)
set(PIVRA_SIGNED_BUNDLED_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled-signed.exe)
pivra_bundle_launcher(signed_bundled_launcher
  LAUNCHER ${PIVRA_LAUNCHER}
  ARCHIVE ${PIVRA_SUITE_ZIP}
  OUTPUT ${PIVRA_SIGNED_BUNDLED_LAUNCHER}
  SIGN_COMMAND ${pivra_test_sign_command}
  DEPENDS fixture_suite_zip test_signer ${PIVRA_SIGNER_DIR}/signer.pem ${PIVRA_SIGNER_DIR}/signer.key)
# And with a tool that signs in place (as signtool does), here osslsigncode
# wrapped so.
set(PIVRA_SIGNED_IN_PLACE_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled-signed-in-place.exe)
pivra_bundle_launcher(signed_in_place_bundled_launcher
  LAUNCHER ${PIVRA_LAUNCHER}
  ARCHIVE ${PIVRA_SUITE_ZIP}
  OUTPUT ${PIVRA_SIGNED_IN_PLACE_LAUNCHER}
  SIGN_COMMAND sh -c "osslsigncode sign -certs \"$1/signer.pem\" -key \"$1/signer.key\" -h sha256 -in \"$2\" -out \"$2.new\" >/dev/null && mv \"$2.new\" \"$2\""
               sign-in-place ${PIVRA_SIGNER_DIR} <SIGNED>
  DEPENDS fixture_suite_zip test_signer ${PIVRA_SIGNER_DIR}/signer.pem ${PIVRA_SIGNER_DIR}/signer.key)

# What a signed launcher must refuse to install from. The key of a CA the
# test prefix does not trust (the sandbox trusts ${PIVRA_SIGNER_DIR}'s CA only).
set(PIVRA_UNTRUSTED_SIGNER_DIR ${CMAKE_CURRENT_BINARY_DIR}/untrusted-signer)
add_custom_command(OUTPUT ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.pem ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.key
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle/signer.sh ${PIVRA_UNTRUSTED_SIGNER_DIR} "Pivra Untrusted Test CA"
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/bundle/signer.sh
  COMMENT "Making a test code-signing key of an untrusted CA"
  VERBATIM)
add_custom_target(test_untrusted_signer DEPENDS ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.pem
                                                ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.key)
set(PIVRA_UNTRUSTED_BUNDLED_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled-signed-untrusted.exe)
pivra_bundle_launcher(untrusted_bundled_launcher
  LAUNCHER ${PIVRA_LAUNCHER}
  ARCHIVE ${PIVRA_SUITE_ZIP}
  OUTPUT ${PIVRA_UNTRUSTED_BUNDLED_LAUNCHER}
  SIGN_COMMAND osslsigncode sign -certs ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.pem
               -key ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.key -h sha256 -n "Pivra Suite Messaging" -in <UNSIGNED> -out <SIGNED>
  DEPENDS fixture_suite_zip test_untrusted_signer ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.pem
          ${PIVRA_UNTRUSTED_SIGNER_DIR}/signer.key)
# Signed with the trusted key, then one file inside changed and its CRC-32
# fixed, so that the zip is valid. The fixture's zip is deflated; a stored
# copy of it lets one byte change without breaking the zip.
set(PIVRA_STORED_SUITE_ZIP ${CMAKE_CURRENT_BINARY_DIR}/PivraSuite-Windows-stored.zip)
add_custom_command(OUTPUT ${PIVRA_STORED_SUITE_ZIP}
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/bundle/pe_tool.py store ${PIVRA_SUITE_ZIP} ${PIVRA_STORED_SUITE_ZIP}
  DEPENDS fixture_suite_zip ${PIVRA_SUITE_ZIP} ${CMAKE_CURRENT_LIST_DIR}/bundle/pe_tool.py
  VERBATIM)
add_custom_target(stored_suite_zip DEPENDS ${PIVRA_STORED_SUITE_ZIP})
set(PIVRA_SIGNED_STORED_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled-stored-signed.exe)
pivra_bundle_launcher(signed_stored_bundled_launcher
  LAUNCHER ${PIVRA_LAUNCHER}
  ARCHIVE ${PIVRA_STORED_SUITE_ZIP}
  OUTPUT ${PIVRA_SIGNED_STORED_LAUNCHER}
  SIGN_COMMAND ${pivra_test_sign_command}
  DEPENDS stored_suite_zip test_signer ${PIVRA_SIGNER_DIR}/signer.pem ${PIVRA_SIGNER_DIR}/signer.key)
set(PIVRA_TAMPERED_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled-stored-signed-tampered.exe)
add_custom_command(OUTPUT ${PIVRA_TAMPERED_LAUNCHER}
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/bundle/pe_tool.py tamper ${PIVRA_SIGNED_STORED_LAUNCHER}
          ${PIVRA_TAMPERED_LAUNCHER}
  DEPENDS signed_stored_bundled_launcher ${PIVRA_SIGNED_STORED_LAUNCHER} ${CMAKE_CURRENT_LIST_DIR}/bundle/pe_tool.py
  VERBATIM)
add_custom_target(tampered_bundled_launcher ALL DEPENDS ${PIVRA_TAMPERED_LAUNCHER})
set(pivra_signature_bundles signed_bundled_launcher signed_stored_bundled_launcher untrusted_bundled_launcher
    tampered_bundled_launcher)

# The suite with a file 250 characters deep once installed in the bench's
# profile (C:\users\root\AppData\Local\Programs), as Electron- or
# Python-style suites have, bundled: an offline launcher reinstalls it on
# every start.
set(PIVRA_DEEP_FILE "deep/node_modules/a-package/node_modules/another-package/node_modules/a-third-package/node_modules/a-fourth-package/node_modules/a-fifth/lib/streams/a-rather-long-module-name-of-the-suite.js")
set(PIVRA_DEEP_SUITE_ZIP ${CMAKE_CURRENT_BINARY_DIR}/PivraSuite-Deep.zip)
add_custom_command(OUTPUT ${PIVRA_DEEP_SUITE_ZIP}
  COMMAND /usr/bin/python3 -c "import shutil, sys, zipfile; shutil.copyfile(sys.argv[1], sys.argv[2]); \
zip = zipfile.ZipFile(sys.argv[2], 'a'); zip.writestr('Pivra Suite All In One/' + sys.argv[3], 'deep'); zip.close()"
          ${PIVRA_SUITE_ZIP} ${PIVRA_DEEP_SUITE_ZIP} ${PIVRA_DEEP_FILE}
  DEPENDS fixture_suite_zip ${PIVRA_SUITE_ZIP}
  VERBATIM)
add_custom_target(deep_suite_zip DEPENDS ${PIVRA_DEEP_SUITE_ZIP})
set(PIVRA_DEEP_BUNDLED_LAUNCHER ${CMAKE_CURRENT_BINARY_DIR}/PivraSuiteMessaging-bundled-deep.exe)
pivra_bundle_launcher(deep_bundled_launcher
  LAUNCHER ${PIVRA_LAUNCHER}
  ARCHIVE ${PIVRA_DEEP_SUITE_ZIP}
  OUTPUT ${PIVRA_DEEP_BUNDLED_LAUNCHER}
  DEPENDS deep_suite_zip)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/e2e/install_test.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  PIVRA_DEEP_BUNDLED_LAUNCHER_PATH=L"Z:${PIVRA_DEEP_BUNDLED_LAUNCHER}"
  PIVRA_DEEP_FILE=L"${PIVRA_DEEP_FILE}")
add_dependencies(e2e_tests deep_bundled_launcher)

# Windows side, in unit_tests.
target_sources(unit_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/appended_test.cpp)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/appended_test.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  PIVRA_APPENDED_BUNDLED_PATH=L"Z:${PIVRA_BUNDLED_LAUNCHER}"
  PIVRA_APPENDED_SIGNED_PATH=L"Z:${PIVRA_SIGNED_BUNDLED_LAUNCHER}"
  PIVRA_APPENDED_UNTRUSTED_PATH=L"Z:${PIVRA_UNTRUSTED_BUNDLED_LAUNCHER}"
  PIVRA_APPENDED_TAMPERED_PATH=L"Z:${PIVRA_TAMPERED_LAUNCHER}"
  PIVRA_APPENDED_ZIP_PATH=L"Z:${PIVRA_SUITE_ZIP}")
add_dependencies(unit_tests bundled_launcher ${pivra_signature_bundles})
gtest_add_tests(TARGET unit_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/appended_test.cpp)

# The real launcher bundled so, under Wine.
target_sources(e2e_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/e2e/bundled_test.cpp)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/e2e/bundled_test.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  PIVRA_BUNDLED_LAUNCHER_PATH=L"Z:${PIVRA_BUNDLED_LAUNCHER}"
  PIVRA_SIGNED_BUNDLED_LAUNCHER_PATH=L"Z:${PIVRA_SIGNED_BUNDLED_LAUNCHER}"
  PIVRA_SIGNED_STORED_LAUNCHER_PATH=L"Z:${PIVRA_SIGNED_STORED_LAUNCHER}"
  PIVRA_UNTRUSTED_BUNDLED_LAUNCHER_PATH=L"Z:${PIVRA_UNTRUSTED_BUNDLED_LAUNCHER}"
  PIVRA_TAMPERED_LAUNCHER_PATH=L"Z:${PIVRA_TAMPERED_LAUNCHER}")
add_dependencies(e2e_tests bundled_launcher ${pivra_signature_bundles})
gtest_add_tests(TARGET e2e_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e/bundled_test.cpp)

# A copy into a temp folder that fills up: a tmpfs in a private mount
# namespace with a wineserver of its own (see the script). First the reader
# alone, then the launcher, which must go on as if it carried nothing.
add_test(NAME AppendedArchiveFullDisk.CopyFailureLeavesThePartialFile
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle/full-disk.sh ${CMAKE_SOURCE_DIR}/tests/bench/wine-run
                 ${PIVRA_WINE_PREFIX} $<TARGET_FILE:unit_tests> ${CMAKE_CURRENT_BINARY_DIR}/full-disk
                 "AppendedArchiveFullDisk.*")
add_test(NAME BundledLauncherFullDisk.FailedCopyFallsBackToTheInstalledTestAndTheQuestion
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle/full-disk.sh ${CMAKE_SOURCE_DIR}/tests/bench/wine-run
                 ${PIVRA_WINE_PREFIX} $<TARGET_FILE:e2e_tests> ${CMAKE_CURRENT_BINARY_DIR}/full-disk-launcher
                 "BundledLauncherFullDisk.*")

# The bundling tool, run on the build machine.
pivra_bundle_tool(pivra_bundle_exe)
pivra_add_host_project(pivra_bundle_checks SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/bundle PROGRAMS bundle_check
                       CMAKE_ARGS -DPIVRA_BUNDLE_WERROR=ON)
set(bundle_cases
  RefusesWrongArgumentCount
  RefusesMissingLauncher
  RefusesLauncherFolder
  RefusesMissingArchive
  RefusesArchiveFolder
  RefusesEmptyArchive
  RefusesBundledLauncher
  RefusesOutputEqualToAnInput
  RefusesTextFileLauncher
  RefusesMzWithoutPe
  RefusesHeadersOutOfReach
  RefusesSignedLauncher
  RefusesMissingOutputFolder
  FullDiskLeavesNoFile
  RoundTripPlain
  SignAfterBundling
  ReplacesAnOlderOutput)
foreach(case IN LISTS bundle_cases)
  add_test(NAME Bundle.${case}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle/bundle_test.sh ${case} ${pivra_bundle_exe}
                   ${pivra_bundle_checks_bundle_check} $<TARGET_FILE:${PIVRA_LAUNCHER}> ${PIVRA_SUITE_ZIP}
                   ${CMAKE_CURRENT_BINARY_DIR}/bundle-tests/${case})
endforeach()
# What pivra_bundle_launcher made at build time, without and with signing.
add_test(NAME Bundle.CMakeFunctionOutput
         COMMAND ${pivra_bundle_checks_bundle_check} plain ${PIVRA_BUNDLED_LAUNCHER}
                 $<TARGET_FILE:${PIVRA_LAUNCHER}> ${PIVRA_SUITE_ZIP})
add_test(NAME Bundle.CMakeFunctionSignedOutput
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bundle/bundle_test.sh SignedAtBuildTime ${pivra_bundle_exe}
                 ${pivra_bundle_checks_bundle_check} $<TARGET_FILE:${PIVRA_LAUNCHER}> ${PIVRA_SUITE_ZIP}
                 ${CMAKE_CURRENT_BINARY_DIR}/bundle-tests/SignedAtBuildTime)
set_tests_properties(Bundle.CMakeFunctionSignedOutput PROPERTIES ENVIRONMENT
  "PIVRA_SIGNER_DIR=${PIVRA_SIGNER_DIR};PIVRA_SIGNED_BUNDLES=${PIVRA_SIGNED_BUNDLED_LAUNCHER}|${PIVRA_SIGNED_IN_PLACE_LAUNCHER}")
# And for every other place's launcher the build makes.
foreach(key IN LISTS PIVRA_LAUNCHER_KEYS)
  set(launcher ${PIVRA_PLACE_${key}_FILE})
  if(launcher STREQUAL PIVRA_LAUNCHER)
    continue()
  endif()
  pivra_bundle_launcher(bundled_${launcher}
    LAUNCHER ${launcher}
    ARCHIVE ${PIVRA_SUITE_ZIP}
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/bundled/${launcher}.exe
    DEPENDS fixture_suite_zip)
  get_target_property(bundled bundled_${launcher} PIVRA_BUNDLED_FILE)
  add_test(NAME Bundle.CMakeFunctionOutput.${launcher}
           COMMAND ${pivra_bundle_checks_bundle_check} plain ${bundled} $<TARGET_FILE:${launcher}> ${PIVRA_SUITE_ZIP})
endforeach()

# TrailerEnd and AppendedArchiveLength under libFuzzer (clang, built by the test itself).
add_test(NAME Fuzz.AppendedArchiveLength
         COMMAND bash ${CMAKE_SOURCE_DIR}/fuzz/run.sh ${CMAKE_CURRENT_BINARY_DIR}/fuzz 10 5000000)
