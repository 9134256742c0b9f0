# cmake -DPROGRAM=path/to/program -DPAGE=path/to/page.1 -P scripts/check-manpage.cmake
# Every long option the program's --help lists has its entry in the manual page: a .TP paragraph
# whose tag line names it as \-\-name.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()
file(READ ${PAGE} page)

# An option starts its line after two blanks ("  -h, --help", "  --com <COMn=PATH>"); wrapped
# description lines start further in.
string(REGEX MATCHALL "\n  (-[A-Za-z0-9], )?--[a-z0-9-]+" entries "\n${help}")
set(missing)
foreach(entry ${entries})
    string(REGEX REPLACE ".*--" "" name "${entry}")
    string(REPLACE "-" "\\\\?-" pattern "${name}")   # help-all: help\-all in the page
    if(NOT page MATCHES "\n\\.TP\n\\.[BIR]+ [^\n]*\\\\-\\\\-${pattern}([^a-z0-9-]|$)")
        list(APPEND missing --${name})
    endif()
endforeach()
if(NOT entries)
    message(FATAL_ERROR "${PROGRAM} --help lists no options")
endif()
if(missing)
    message(FATAL_ERROR "${PAGE} lacks an entry for ${missing} (see ${PROGRAM} --help)")
endif()
