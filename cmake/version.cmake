# Writes the git description of the source tree into a header, rewriting it
# only when it changed (so a build without changes recompiles nothing).
# Run at every build: -DSRC=<source dir> -DOUT=<header>.
execute_process(COMMAND git describe --always --dirty --tags
                WORKING_DIRECTORY ${SRC}
                OUTPUT_VARIABLE desc OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0 OR desc STREQUAL "")
  set(desc "unknown (not built from a git checkout)")
endif()
set(text "// Generated at build time from `git describe`.\n#pragma once\n#define QV_VERSION \"${desc}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
