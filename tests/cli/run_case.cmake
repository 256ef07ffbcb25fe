# Runs one end-to-end case and compares everything it produced byte for byte.
#
# Case folder layout:
#   cmd                   one step per line: a program name (Sitecount or Scorefit) and its
#                         arguments, split like a shell command line (quotes allowed)
#   in/                   files copied into the fresh working folder before the first step
#   expected/stdout       standard output of step 1 (stdout.2, stdout.3 ... for later steps)
#   expected/stderr       standard error of step 1 (stderr.2 ...)
#   expected/exit_code    exit code of step 1 (exit_code.2 ...)
#   expected/files/       every file the steps must leave in the working folder besides the
#                         inputs; any other new file, or a changed input, fails the case
#
# Called as: cmake -DPROGRAM_Sitecount=... -DCASE_DIR=... -DRUN_DIR=... -P run_case.cmake

cmake_minimum_required(VERSION 3.25)

set(work_dir ${RUN_DIR}/work)
set(capture_dir ${RUN_DIR}/capture)
file(REMOVE_RECURSE ${RUN_DIR})
file(MAKE_DIRECTORY ${work_dir} ${capture_dir})
if(EXISTS ${CASE_DIR}/in)
  file(COPY ${CASE_DIR}/in/ DESTINATION ${work_dir})
endif()

set(failures "")

function(expect_same_file expected actual label)
  if(NOT EXISTS ${expected})
    string(APPEND failures "\n${label}: expected file ${expected} is missing")
    set(failures "${failures}" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${expected} ${actual}
                  RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
  if(differs)
    file(READ ${expected} expected_text)
    if(EXISTS ${actual})
      file(READ ${actual} actual_text)
    else()
      set(actual_text "<no such file>")
    endif()
    string(APPEND failures
           "\n${label} differs.\n--- expected\n${expected_text}\n--- actual\n${actual_text}")
    set(failures "${failures}" PARENT_SCOPE)
  endif()
endfunction()

file(STRINGS ${CASE_DIR}/cmd steps)
set(step 0)
foreach(step_line IN LISTS steps)
  math(EXPR step "${step} + 1")
  if(step EQUAL 1)
    set(suffix "")
  else()
    set(suffix ".${step}")
  endif()
  separate_arguments(words UNIX_COMMAND "${step_line}")
  list(POP_FRONT words program_name)
  if(NOT DEFINED PROGRAM_${program_name})
    message(FATAL_ERROR "step ${step}: unknown or unbuilt program '${program_name}'")
  endif()
  execute_process(COMMAND ${PROGRAM_${program_name}} ${words}
                  WORKING_DIRECTORY ${work_dir}
                  INPUT_FILE /dev/null
                  OUTPUT_FILE ${capture_dir}/stdout${suffix}
                  ERROR_FILE ${capture_dir}/stderr${suffix}
                  RESULT_VARIABLE exit_code)
  file(WRITE ${capture_dir}/exit_code${suffix} "${exit_code}\n")
  foreach(stream stdout stderr)
    expect_same_file(${CASE_DIR}/expected/${stream}${suffix} ${capture_dir}/${stream}${suffix}
                     "step ${step} ${stream}")
  endforeach()
  if(EXISTS ${CASE_DIR}/expected/exit_code${suffix})
    file(READ ${CASE_DIR}/expected/exit_code${suffix} expected_code)
    string(STRIP "${expected_code}" expected_code)
    if(NOT "${exit_code}" STREQUAL "${expected_code}")
      string(APPEND failures "\nstep ${step} exit code: expected ${expected_code}, got ${exit_code}")
    endif()
  else()
    string(APPEND failures "\nstep ${step}: expected/exit_code${suffix} is missing")
  endif()
endforeach()

# The folder must hold exactly the inputs, unchanged, and the expected output files.
file(GLOB_RECURSE actual_files RELATIVE ${work_dir} LIST_DIRECTORIES false ${work_dir}/*)
set(input_files "")
if(EXISTS ${CASE_DIR}/in)
  file(GLOB_RECURSE input_files RELATIVE ${CASE_DIR}/in LIST_DIRECTORIES false
       ${CASE_DIR}/in/*)
endif()
set(output_files "")
if(EXISTS ${CASE_DIR}/expected/files)
  file(GLOB_RECURSE output_files RELATIVE ${CASE_DIR}/expected/files LIST_DIRECTORIES false
       ${CASE_DIR}/expected/files/*)
endif()
foreach(name IN LISTS output_files)
  expect_same_file(${CASE_DIR}/expected/files/${name} ${work_dir}/${name} "output file ${name}")
endforeach()
foreach(name IN LISTS input_files)
  if(NOT name IN_LIST output_files)
    expect_same_file(${CASE_DIR}/in/${name} ${work_dir}/${name} "input file ${name}")
  endif()
endforeach()
foreach(name IN LISTS actual_files)
  if(NOT name IN_LIST input_files AND NOT name IN_LIST output_files)
    string(APPEND failures "\nunexpected file left in the working folder: ${name}")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "case ${CASE_DIR} failed:${failures}")
endif()
