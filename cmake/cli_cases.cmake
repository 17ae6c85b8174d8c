# The end-to-end cases (folders holding a "cmd" file below a subsystem's tests/<group>/
# cases/), shared by the Linux and Windows test lists.
# The end-to-end cases, as "cases-root|case|test-name" entries.
function(symvert_cli_cases out)
  file(GLOB_RECURSE cmds CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/cases/cmd)
  list(SORT cmds)
  set(cases)
  foreach(cmd ${cmds})
    get_filename_component(case_dir ${cmd} DIRECTORY)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${case_dir})
    string(REGEX MATCH "^[^/]+" group ${rel})
    string(REGEX REPLACE "^[^/]+/cases/" "" case ${rel})
    list(APPEND cases "${CMAKE_SOURCE_DIR}/tests/${group}/cases|${case}|${group}/${case}")
  endforeach()
  set(${out} ${cases} PARENT_SCOPE)
endfunction()
