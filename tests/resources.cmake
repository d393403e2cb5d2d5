# The launchers' icons and version records.
set(PIVRA_ICON_SOURCE ${CMAKE_SOURCE_DIR}/resources/icon)
set(PIVRA_ICONS_DIR ${CMAKE_SOURCE_DIR}/resources/icons)
set(PIVRA_CHECK_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/checks/check_resources.py)
# The most a launcher file may take, in bytes, icons and version record
# included: classic installer stubs of its kind take 35 to 50 KB.
set(PIVRA_LAUNCHER_MAX_BYTES 65536)

# Every place's icon, whether or not its launcher is built here.
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/icon)
foreach(key IN LISTS PIVRA_PLACE_KEYS)
  set(icon ${PIVRA_PLACE_${key}_ICON})
  # The checked-in icon must be exactly what its drawing gives, so the two
  # cannot drift apart: draw it afresh into the build tree, then compare.
  add_test(NAME Icon.CheckedInFileIsTheDrawing.${icon}
           COMMAND /usr/bin/python3 -B ${PIVRA_ICON_SOURCE}/draw_icon.py ${icon}
                   ${CMAKE_CURRENT_BINARY_DIR}/icon/${icon}.ico --expect ${PIVRA_ICONS_DIR}/${icon}.ico)
  # The .ico itself: six PNG images, 256 down to 16.
  add_test(NAME Icon.FileLayout.${icon}
           COMMAND /usr/bin/python3 -B ${PIVRA_CHECK_RESOURCES} --icon-file ${PIVRA_ICONS_DIR}/${icon}.ico)
endforeach()

# Each built launcher: icon group, version record naming its place, no
# manifest, nothing else, its size; its icon images must be its place's file's.
foreach(key IN LISTS PIVRA_LAUNCHER_KEYS)
  add_test(NAME Resources.LauncherFile.${PIVRA_PLACE_${key}_FILE}
           COMMAND /usr/bin/python3 -B ${PIVRA_CHECK_RESOURCES} $<TARGET_FILE:${PIVRA_PLACE_${key}_FILE}>
                   --place ${key} --max-bytes ${PIVRA_LAUNCHER_MAX_BYTES}
                   --icon-file ${PIVRA_ICONS_DIR}/${PIVRA_PLACE_${key}_ICON}.ico)
endforeach()

# The limit holds whatever the build type: the own place's launcher built
# alone in a tree of another type (Release, the largest before the launcher
# was compiled for size under every type) with this tree's compiler.
set(size_tree ${CMAKE_CURRENT_BINARY_DIR}/launcher-release)
set(size_file ${PIVRA_PLACE_${OwnPlace}_FILE})
add_test(NAME Resources.LauncherFile.Release.Build
         COMMAND bash -c [[cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$3" -DCMAKE_BUILD_TYPE=Release \
                           -DOwnPlace="$4" -DBUILD_TESTING=OFF >"$2.log" && cmake --build "$2" -j 2 --target "$5" \
                           >>"$2.log" || { tail -n 40 "$2.log"; exit 1; }]]
                 size-tree ${CMAKE_SOURCE_DIR} ${size_tree} ${CMAKE_TOOLCHAIN_FILE} ${OwnPlace} ${size_file})
add_test(NAME Resources.LauncherFile.Release.${size_file}
         COMMAND /usr/bin/python3 -B ${PIVRA_CHECK_RESOURCES} ${size_tree}/${size_file}.exe --place ${OwnPlace}
                 --max-bytes ${PIVRA_LAUNCHER_MAX_BYTES}
                 --icon-file ${PIVRA_ICONS_DIR}/${PIVRA_PLACE_${OwnPlace}_ICON}.ico)
set_tests_properties(Resources.LauncherFile.Release.Build PROPERTIES FIXTURES_SETUP launcher_release)
set_tests_properties(Resources.LauncherFile.Release.${size_file} PROPERTIES FIXTURES_REQUIRED launcher_release)

# A sheet of all six sizes of the own place's icon, to look at:
# build/tests/icon/preview.png.
set(PIVRA_ICON_FILE ${PIVRA_ICONS_DIR}/${PIVRA_PLACE_${OwnPlace}_ICON}.ico)
set(PIVRA_ICON_PREVIEW ${CMAKE_CURRENT_BINARY_DIR}/icon/preview.png)
add_custom_command(OUTPUT ${PIVRA_ICON_PREVIEW}
  COMMAND /usr/bin/python3 -B ${PIVRA_ICON_SOURCE}/preview.py ${PIVRA_ICON_FILE} ${PIVRA_ICON_PREVIEW}
  DEPENDS ${PIVRA_ICON_FILE} ${PIVRA_ICON_SOURCE}/preview.py ${PIVRA_ICON_SOURCE}/draw_icon.py
  COMMENT "Rendering the icon preview"
  VERBATIM)
add_custom_target(icon_preview ALL DEPENDS ${PIVRA_ICON_PREVIEW})
