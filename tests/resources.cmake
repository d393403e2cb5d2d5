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
