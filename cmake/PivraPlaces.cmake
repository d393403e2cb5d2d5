# The place table as the build sees it, read from launcher/layout.cpp so that
# there is only the one table. For each place key (and `suite` for the
# whole-suite row, whose key is empty) it sets, in the caller's scope:
#   PIVRA_PLACE_KEYS                 the keys in table order
#   PIVRA_PLACE_<key>_ROW            the row's index, from 0
#   PIVRA_PLACE_<key>_NAME           its display name
#   PIVRA_PLACE_<key>_ICON           its icon's base name
#   PIVRA_PLACE_<key>_FILE           the launcher's file name without ".exe":
#                                    the display name's words, each begun
#                                    with a capital, without the blanks
# checks OwnPlace against the keys, and writes the same for scripts
# (tools/demo.sh) into <binary dir>/places.tsv: key, launcher file, display
# name and what the suite is started with, tab-separated, a row a line.
include_guard(GLOBAL)

set(_pivra_table_source ${CMAKE_SOURCE_DIR}/launcher/layout.cpp)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pivra_table_source})
set(_pivra_row_regex "^ *\\{L\"([^\"]*)\", L\"([^\"]*)\", L\"([^\"]*)\"\\},$")
file(STRINGS ${_pivra_table_source} _pivra_rows REGEX "${_pivra_row_regex}")
list(LENGTH _pivra_rows _pivra_row_count)
if(NOT _pivra_row_count EQUAL 10)
  message(FATAL_ERROR "read ${_pivra_row_count} rows of the place table from ${_pivra_table_source}, expected 10")
endif()

set(PIVRA_PLACE_KEYS)
set(_pivra_row 0)
set(_pivra_tsv "")
foreach(_pivra_line IN LISTS _pivra_rows)
  string(REGEX MATCH "${_pivra_row_regex}" _ "${_pivra_line}")
  set(_pivra_name "${CMAKE_MATCH_1}")
  set(_pivra_place "${CMAKE_MATCH_2}")
  set(_pivra_icon "${CMAKE_MATCH_3}")
  set(_pivra_key "${_pivra_place}")
  set(_pivra_arguments "--place ${_pivra_place}")
  if(_pivra_place STREQUAL "")
    set(_pivra_key suite)
    set(_pivra_arguments "")
  endif()
  set(_pivra_file "")
  string(REPLACE " " ";" _pivra_words "${_pivra_name}")
  foreach(_pivra_word IN LISTS _pivra_words)
    string(SUBSTRING "${_pivra_word}" 0 1 _pivra_first)
    string(SUBSTRING "${_pivra_word}" 1 -1 _pivra_rest)
    string(TOUPPER "${_pivra_first}" _pivra_first)
    string(APPEND _pivra_file "${_pivra_first}${_pivra_rest}")
  endforeach()
  list(APPEND PIVRA_PLACE_KEYS ${_pivra_key})
  set(PIVRA_PLACE_${_pivra_key}_ROW ${_pivra_row})
  set(PIVRA_PLACE_${_pivra_key}_NAME "${_pivra_name}")
  set(PIVRA_PLACE_${_pivra_key}_ICON "${_pivra_icon}")
  set(PIVRA_PLACE_${_pivra_key}_FILE "${_pivra_file}")
  math(EXPR _pivra_row "${_pivra_row} + 1")
  string(APPEND _pivra_tsv "${_pivra_key}\t${_pivra_file}.exe\t${_pivra_name}\t${_pivra_arguments}\n")
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/places.tsv CONTENT "${_pivra_tsv}")

set_property(CACHE OwnPlace PROPERTY STRINGS ${PIVRA_PLACE_KEYS})
if(NOT OwnPlace IN_LIST PIVRA_PLACE_KEYS)
  list(JOIN PIVRA_PLACE_KEYS ", " _pivra_valid)
  message(FATAL_ERROR "OwnPlace '${OwnPlace}' is no place of the suite; valid: ${_pivra_valid}")
endif()

# pivra_place_header(<key>): writes <binary dir>/generated/places/<key>/own_place.h,
# the row a program of that place stands for, for its C++ and its resources.
function(pivra_place_header key)
  set(PIVRA_OWN_PLACE_ROW ${PIVRA_PLACE_${key}_ROW})
  set(PIVRA_OWN_PLACE_NAME "${PIVRA_PLACE_${key}_NAME}")
  set(PIVRA_OWN_PLACE_ICON "icons/${PIVRA_PLACE_${key}_ICON}.ico")
  set(PIVRA_PUBLISHED_NAME "${PIVRA_PLACE_${key}_FILE}.exe")
  configure_file(${CMAKE_SOURCE_DIR}/launcher/own_place.h.in ${CMAKE_BINARY_DIR}/generated/places/${key}/own_place.h
                 @ONLY)
endfunction()
