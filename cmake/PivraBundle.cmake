# pivra_bundle_launcher(<name> LAUNCHER <file or target> ARCHIVE <zip> OUTPUT <file>
#                       [SIGN_COMMAND <command> <argument>...]
#                       [DEPENDS <targets or files>...] [EXCLUDE_FROM_ALL])
#
# Adds the custom target <name>, which writes OUTPUT at build time: the
# launcher with the archive and its trailer appended (pivra-bundle). A
# relative LAUNCHER or ARCHIVE is taken from the current source folder, a
# relative OUTPUT from the current binary folder, as add_custom_command does.
# DEPENDS names what makes the inputs (the target that packs the archive).
# The target's property PIVRA_BUNDLED_FILE holds the output's full path.
#
# SIGN_COMMAND signs the bundled file, so that the signature covers the
# archive (a launcher signed before bundling is refused). In its arguments
# <UNSIGNED> stands for the bundled file and <SIGNED> for the file the signed
# copy goes to, e.g.
#   SIGN_COMMAND osslsigncode sign -pkcs12 key.p12 -h sha256 -in <UNSIGNED> -out <SIGNED>
# A tool that signs in place names <SIGNED> alone; the bundled file is copied
# there first:
#   SIGN_COMMAND signtool sign /fd sha256 /a <SIGNED>
# OUTPUT appears only once the signing succeeded; the unsigned bundle stays
# beside it as OUTPUT.unsigned.
#
# pivra-bundle runs on the build machine, so it is built there with the
# host's own compiler, in a CMake build of its own (ExternalProject): the
# cross toolchain of this build is never handed to it.
# PIVRA_HOST_CXX_COMPILER picks that compiler; empty: the host's default.
include_guard(GLOBAL)
include(ExternalProject)

set(PIVRA_HOST_CXX_COMPILER "" CACHE FILEPATH "C++ compiler for the tools that run on the build machine")
option(PIVRA_BUNDLE_WERROR "Build pivra-bundle with warnings as errors" OFF)
set(_pivra_bundle_source_dir ${CMAKE_CURRENT_LIST_DIR}/../tools/bundle)
cmake_path(NORMAL_PATH _pivra_bundle_source_dir)

# pivra_add_host_project(<target> SOURCE_DIR <dir> PROGRAMS <name>... [CMAKE_ARGS <arg>...])
# Builds and installs the CMake project in <dir> for the build machine; sets
# <target>_<program> in the caller to each installed program's full path.
function(pivra_add_host_project target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SOURCE_DIR" "PROGRAMS;CMAKE_ARGS")
  set(prefix ${CMAKE_BINARY_DIR}/host/${target})
  set(suffix "")
  if(CMAKE_HOST_WIN32)
    set(suffix ".exe")
  endif()
  set(programs)
  foreach(program IN LISTS arg_PROGRAMS)
    list(APPEND programs ${prefix}/install/bin/${program}${suffix})
    set(${target}_${program} ${prefix}/install/bin/${program}${suffix} PARENT_SCOPE)
  endforeach()
  set(compiler)
  if(PIVRA_HOST_CXX_COMPILER)
    set(compiler -DCMAKE_CXX_COMPILER=${PIVRA_HOST_CXX_COMPILER})
  endif()
  if(NOT TARGET ${target})
    ExternalProject_Add(${target}
      SOURCE_DIR ${arg_SOURCE_DIR}
      PREFIX ${prefix}
      BINARY_DIR ${prefix}/build
      INSTALL_DIR ${prefix}/install
      # An empty toolchain file also keeps the CMAKE_TOOLCHAIN_FILE
      # environment variable from making this a cross build.
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE= -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
                 ${compiler} ${arg_CMAKE_ARGS}
      # Rebuilt (a no-op when nothing changed) on every build, so edits to
      # its sources are picked up without a reconfigure.
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${programs}
      USES_TERMINAL_BUILD OFF)
  endif()
endfunction()

# Sets <out_var> to the full path of pivra-bundle built for the build machine
# (target pivra_bundle_host makes it).
function(pivra_bundle_tool out_var)
  pivra_add_host_project(pivra_bundle_host SOURCE_DIR ${_pivra_bundle_source_dir} PROGRAMS pivra-bundle
                         CMAKE_ARGS -DPIVRA_BUNDLE_WERROR=${PIVRA_BUNDLE_WERROR})
  set(${out_var} ${pivra_bundle_host_pivra-bundle} PARENT_SCOPE)
endfunction()

function(pivra_bundle_launcher name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "EXCLUDE_FROM_ALL" "LAUNCHER;ARCHIVE;OUTPUT" "DEPENDS;SIGN_COMMAND")
  foreach(required LAUNCHER ARCHIVE OUTPUT)
    if(NOT arg_${required})
      message(FATAL_ERROR "pivra_bundle_launcher(${name}): ${required} is required")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "pivra_bundle_launcher(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  pivra_bundle_tool(tool)

  if(TARGET ${arg_LAUNCHER})
    set(launcher $<TARGET_FILE:${arg_LAUNCHER}>)
    set(launcher_dependency ${arg_LAUNCHER})
  else()
    cmake_path(ABSOLUTE_PATH arg_LAUNCHER BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE launcher)
    set(launcher_dependency ${launcher})
  endif()
  cmake_path(ABSOLUTE_PATH arg_ARCHIVE BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE OUTPUT_VARIABLE archive)
  cmake_path(ABSOLUTE_PATH arg_OUTPUT BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE OUTPUT_VARIABLE output)
  cmake_path(GET output PARENT_PATH output_dir)

  set(bundled ${output})
  set(sign_commands)
  set(byproducts)
  if(arg_SIGN_COMMAND)
    set(bundled ${output}.unsigned)
    set(signing ${output}.signing)
    set(byproducts BYPRODUCTS ${bundled} ${signing})
    string(FIND "${arg_SIGN_COMMAND}" <UNSIGNED> names_unsigned)
    string(FIND "${arg_SIGN_COMMAND}" <SIGNED> names_signed)
    if(names_signed EQUAL -1)
      message(FATAL_ERROR "pivra_bundle_launcher(${name}): SIGN_COMMAND must name <SIGNED>")
    endif()
    list(TRANSFORM arg_SIGN_COMMAND REPLACE <UNSIGNED> ${bundled})
    list(TRANSFORM arg_SIGN_COMMAND REPLACE <SIGNED> ${signing})
    # Signed aside and renamed, so that a failed signing leaves no OUTPUT
    # that a later build would take as done.
    list(APPEND sign_commands COMMAND ${CMAKE_COMMAND} -E rm -f ${signing})
    if(names_unsigned EQUAL -1)
      list(APPEND sign_commands COMMAND ${CMAKE_COMMAND} -E copy ${bundled} ${signing})
    endif()
    list(APPEND sign_commands COMMAND ${arg_SIGN_COMMAND} COMMAND ${CMAKE_COMMAND} -E rename ${signing} ${output})
  endif()

  # A target name in DEPENDS of the command orders the build (and, for an
  # executable, reruns on its changes); files rerun the command.
  add_custom_command(OUTPUT ${output}
    ${byproducts}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND ${tool} ${launcher} ${archive} ${bundled}
    ${sign_commands}
    DEPENDS pivra_bundle_host ${tool} ${launcher_dependency} ${archive} ${arg_DEPENDS}
    COMMENT "Bundling ${archive} into ${output}"
    VERBATIM)
  set(all ALL)
  if(arg_EXCLUDE_FROM_ALL)
    set(all)
  endif()
  add_custom_target(${name} ${all} DEPENDS ${output})
  # Targets that make the archive must be done before this target's rules
  # look at it, or two targets would race to make the same file.
  foreach(dependency IN LISTS arg_DEPENDS)
    if(TARGET ${dependency})
      add_dependencies(${name} ${dependency})
    endif()
  endforeach()
  add_dependencies(${name} pivra_bundle_host)
  set_target_properties(${name} PROPERTIES PIVRA_BUNDLED_FILE ${output})
endfunction()
