# Writes the gzip-compressed man page of one of the programs with help2man:
# the program's own --help and --version, and after them every command's
# --help as a section of its own, so the page says what the program says.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DSUMMARY=... -DDESCRIPTION=...
#         -DSEE_ALSO=page,page -DCOPYRIGHT=... -DOUTPUT=x.1.gz -P write_man_page.cmake
# help2man dates the page from SOURCE_DATE_EPOCH; gzip -n stores no name or time.
cmake_minimum_required(VERSION 3.16)
get_filename_component(name ${PROGRAM} NAME)

function(run_help out_var)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} ${ARGN} --help ended with status ${status}")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Help text as roff shown line for line: backslashes and hyphens escaped, and
# no line taken for a request.
function(roff_lines out_var text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out_var} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

run_help(overview)
# The commands are the indented lines under "commands:".
string(REGEX MATCH "\ncommands:\n(  [^\n]+\n)+" listing "${overview}")
string(REGEX MATCHALL "\n  [a-z-]+" commands "${listing}")
if(NOT commands)
  message(FATAL_ERROR "${name} --help lists no commands")
endif()

set(synopsis "")
set(sections "")
# One command's (or subcommand's) help: its usage to the synopsis, the rest
# as a section of its own.
macro(add_command_section)
  run_help(help ${ARGN})
  # "usage: NAME COMMAND ..." up to the first blank line is the synopsis.
  string(FIND "${help}" "\n\n" end)
  string(SUBSTRING "${help}" 0 ${end} usage)
  math(EXPR end "${end} + 2")
  string(SUBSTRING "${help}" ${end} -1 body)
  string(REGEX REPLACE "^usage: " "" usage "${usage}")
  string(REPLACE "\n       " "\n" usage "${usage}")  # continuation lines kept in line
  string(APPEND synopsis "${usage}\n")
  roff_lines(body "${body}")
  string(JOIN " " title ${ARGN})
  string(APPEND sections ".SS ${title}\n${body}")
endmacro()

foreach(command ${commands})
  string(STRIP "${command}" command)
  add_command_section(${command})
  # A command with subcommands lists them under "subcommands:"; each has its own help.
  string(REGEX MATCH "\nsubcommands:\n(  [^\n]+\n)+" sublisting "${help}")
  string(REGEX MATCHALL "\n  [a-z-]+" subcommands "${sublisting}")
  foreach(subcommand ${subcommands})
    string(STRIP "${subcommand}" subcommand)
    add_command_section(${command} ${subcommand})
  endforeach()
endforeach()
string(APPEND synopsis "${name} --version\n")
roff_lines(synopsis "${synopsis}")
string(REGEX REPLACE "^usage: [^\n]*\n\n" "" overview "${overview}")
roff_lines(overview "${overview}")

string(REPLACE "," ";" pages "${SEE_ALSO}")
set(see_also "")
foreach(other ${pages})
  string(REPLACE "-" "\\-" other "${other}")
  list(APPEND see_also ".BR ${other} (1)")
endforeach()
list(JOIN see_also ",\n" see_also)

string(REPLACE "-" "\\-" roff_name "${name}")
set(include_file ${OUTPUT}.h2m)
file(WRITE ${include_file} "[SYNOPSIS]
${synopsis}
[=DESCRIPTION]
.B ${roff_name}
${DESCRIPTION}
.PP
${overview}
[COMMANDS]
${sections}
[COPYRIGHT]
${COPYRIGHT}
.br
This is free software under the MIT licence; there is NO warranty.
[SEE ALSO]
${see_also}
")

execute_process(COMMAND ${HELP2MAN} --no-info --section 1 --name ${SUMMARY}
                        --include ${include_file} --output ${OUTPUT}.tmp ${PROGRAM}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${name}")
endif()
execute_process(COMMAND gzip -9n -c ${OUTPUT}.tmp OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on the man page of ${name}")
endif()
file(REMOVE ${OUTPUT}.tmp ${include_file})
