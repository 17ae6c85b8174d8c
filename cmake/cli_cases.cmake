# The end-to-end cases (folders holding a "cmd" file below a subsystem's tests/<group>/
# cases/), shared by the Linux and Windows test lists, and the interpreter they run on.

# Python 3 for the cases and the peer checks. A launcher on the PATH, such as a version
# manager's shim, can take longer to start than a case takes to run, so the tests run
# the interpreter that the launcher stands for.
macro(symvert_find_python)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  if(Python3_Interpreter_FOUND)
    execute_process(COMMAND ${Python3_EXECUTABLE} -c "import sys; print(sys.executable)"
      OUTPUT_VARIABLE symvert_python OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(symvert_python AND EXISTS "${symvert_python}")
      set_property(TARGET Python3::Interpreter PROPERTY IMPORTED_LOCATION "${symvert_python}")
    endif()
  endif()
endmacro()

# One test for every end-to-end case, named <prefix>/<group>/<case>: run_cases.py runs
# the case with the words given (the program, and how to run it) before its own. The
# tests' names are appended to the list named out.
function(symvert_add_cli_cases prefix out)
  file(GLOB_RECURSE cmds CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/cases/cmd)
  list(SORT cmds)
  set(tests ${${out}})
  foreach(cmd ${cmds})
    get_filename_component(case_dir ${cmd} DIRECTORY)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${case_dir})
    string(REGEX MATCH "^[^/]+" group ${rel})
    string(REGEX REPLACE "^[^/]+/cases/" "" case ${rel})
    add_test(NAME ${prefix}/${group}/${case} COMMAND Python3::Interpreter
      ${CMAKE_SOURCE_DIR}/tests/run_cases.py ${ARGN} --cases ${CMAKE_SOURCE_DIR}/tests/${group}/cases
      --data ${CMAKE_SOURCE_DIR}/tests/data ${case})
    list(APPEND tests ${prefix}/${group}/${case})
  endforeach()
  set(${out} ${tests} PARENT_SCOPE)
endfunction()
