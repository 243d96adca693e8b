cmake_minimum_required(VERSION 3.25)
# Proves that the manual's warning check bites: a copy of the public headers in which one
# declaration lost its comment, and one in which a comment names a function that does not
# exist, must each fail a Doxygen run with the warning that says so.
# Arguments: DOXYGEN, SOURCE_DIR, WORK_DIR.
foreach(header lumora.h host.h)
  file(READ ${SOURCE_DIR}/include/lumora/${header} text)
  string(FIND "${text}" "@file ${header}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${header} has no @file block: Doxygen would not check its declarations")
  endif()
endforeach()

# Doxygen links a name followed by () only when it exists and says nothing otherwise: every
# function the headers' comments and the guides name must be declared.
file(READ ${SOURCE_DIR}/include/lumora/lumora.h lumora_text)
file(READ ${SOURCE_DIR}/include/lumora/host.h host_text)
string(REGEX MATCHALL "LUMORA_API [^(;]*[ *](Lumora[A-Za-z]*_[A-Za-z0-9_]+)\\(" declarations
       "${lumora_text}${host_text}")
set(declared "")
foreach(d IN LISTS declarations)
  string(REGEX REPLACE ".*[ *](Lumora[A-Za-z]*_[A-Za-z0-9_]+)\\($" "\\1" name "${d}")
  list(APPEND declared ${name})
endforeach()
file(GLOB guides ${SOURCE_DIR}/docs/*.md ${SOURCE_DIR}/docs/guides/*.md)
set(named_text "${lumora_text}${host_text}")
foreach(guide IN LISTS guides)
  file(READ ${guide} guide_text)
  string(APPEND named_text "${guide_text}")
endforeach()
string(REGEX MATCHALL "Lumora[A-Za-z]*_[A-Za-z0-9_]+\\(\\)" named "${named_text}")
list(REMOVE_DUPLICATES named)
foreach(n IN LISTS named)
  string(REPLACE "()" "" n "${n}")
  if(NOT n IN_LIST declared)
    message(FATAL_ERROR "the manual names ${n}(), which is not declared")
  endif()
endforeach()
list(LENGTH declared count)
message(STATUS "${count} declared functions; every one the manual names exists")

function(run_case name header victim_line replacement expected)
  set(dir ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir}/include/lumora)
  file(COPY ${SOURCE_DIR}/include/lumora/lumora.h ${SOURCE_DIR}/include/lumora/host.h
       DESTINATION ${dir}/include/lumora)
  file(READ ${dir}/include/lumora/${header} text)
  string(FIND "${text}" "${victim_line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name}: '${victim_line}' not found in ${header}")
  endif()
  if(replacement STREQUAL "DROP_COMMENT")
    # Cut the documentation block that ends right before the declaration.
    string(SUBSTRING "${text}" 0 ${at} before)
    string(FIND "${before}" "/**" start REVERSE)
    string(SUBSTRING "${text}" 0 ${start} head)
    string(SUBSTRING "${text}" ${at} -1 rest)
    set(text "${head}${rest}")
  else()
    string(REPLACE "${victim_line}" "${replacement}" text "${text}")
  endif()
  file(WRITE ${dir}/include/lumora/${header} "${text}")
  file(WRITE ${dir}/Doxyfile "
INPUT = ${dir}/include/lumora/lumora.h ${dir}/include/lumora/host.h
OUTPUT_DIRECTORY = ${dir}/out
OPTIMIZE_OUTPUT_FOR_C = YES
QUIET = YES
GENERATE_LATEX = NO
GENERATE_HTML = NO
GENERATE_XML = YES
WARN_IF_UNDOCUMENTED = YES
WARN_NO_PARAMDOC = YES
WARN_AS_ERROR = FAIL_ON_WARNINGS
ENABLE_PREPROCESSING = YES
MACRO_EXPANSION = YES
EXPAND_ONLY_PREDEF = YES
PREDEFINED = \"LUMORA_API=\" \"LUMORA_STATIC_ASSERT(c,m)=\"
HAVE_DOT = NO
")
  execute_process(COMMAND ${DOXYGEN} ${dir}/Doxyfile WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${name}: Doxygen passed a header with ${expected}")
  endif()
  if(NOT "${out}${err}" MATCHES "${expected}")
    message(FATAL_ERROR "${name}: Doxygen failed, but not for ${expected}:\n${out}${err}")
  endif()
  message(STATUS "${name}: caught")
endfunction()

run_case(lost_comment lumora.h "LUMORA_API int Lumora_SetGamma(" DROP_COMMENT
         "Lumora_SetGamma[^\n]*is not documented")
run_case(lost_host_comment host.h "LUMORA_API int LumoraSim_ClearFaults(" DROP_COMMENT
         "LumoraSim_ClearFaults[^\n]*is not documented")
run_case(lost_argument lumora.h " * @param rowOrder Non-zero: top row first; 0: bottom row first.\n * @return 1 on success.\n * @par Errors\n * 1 during a preview"
         " * @return 1 on success.\n * @par Errors\n * 1 during a preview" "rowOrder")
run_case(broken_reference lumora.h "@ref LUMORA_MSG_FRAME." "@ref LUMORA_MSG_FRAMES."
         "LUMORA_MSG_FRAMES")
