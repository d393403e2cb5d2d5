# The launcher's icon and version record.
set(PIVRA_ICON_SOURCE ${CMAKE_SOURCE_DIR}/resources/icon)
set(PIVRA_ICON_FILE ${CMAKE_SOURCE_DIR}/resources/messaging.ico)
set(PIVRA_CHECK_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/checks/check_resources.py)

# The checked-in icon must be exactly what its drawing gives, so the two
# cannot drift apart: draw it afresh into the build tree, then compare.
set(PIVRA_ICON_REDRAWN ${CMAKE_CURRENT_BINARY_DIR}/icon/messaging.ico)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/icon)
add_test(NAME Icon.CheckedInFileIsTheDrawing
         COMMAND /usr/bin/python3 -B ${PIVRA_ICON_SOURCE}/draw_icon.py ${PIVRA_ICON_REDRAWN}
                 --expect ${PIVRA_ICON_FILE})

# The .ico itself: six PNG images, 256 down to 16.
add_test(NAME Icon.FileLayout
         COMMAND /usr/bin/python3 -B ${PIVRA_CHECK_RESOURCES} --icon-file ${PIVRA_ICON_FILE})

# The built launcher: icon group, version record, no manifest, nothing else;
# its icon images must be the checked-in file's.
add_test(NAME Resources.LauncherFile
         COMMAND /usr/bin/python3 -B ${PIVRA_CHECK_RESOURCES} $<TARGET_FILE:PivraSuiteMessaging>
                 --icon-file ${PIVRA_ICON_FILE})

# A sheet of all six sizes, to look at: build/tests/icon/preview.png.
set(PIVRA_ICON_PREVIEW ${CMAKE_CURRENT_BINARY_DIR}/icon/preview.png)
add_custom_command(OUTPUT ${PIVRA_ICON_PREVIEW}
  COMMAND /usr/bin/python3 -B ${PIVRA_ICON_SOURCE}/preview.py ${PIVRA_ICON_FILE} ${PIVRA_ICON_PREVIEW}
  DEPENDS ${PIVRA_ICON_FILE} ${PIVRA_ICON_SOURCE}/preview.py ${PIVRA_ICON_SOURCE}/draw_icon.py
  COMMENT "Rendering the icon preview"
  VERBATIM)
add_custom_target(icon_preview ALL DEPENDS ${PIVRA_ICON_PREVIEW})

