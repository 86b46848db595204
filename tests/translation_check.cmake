# A translation covers every text it is for: lupdate run over the code into
# a copy of the .ts finds no text without its translation, and the file
# holds at least MIN_MESSAGES texts. Run with -DLUPDATE -DSOURCE_DIR -DTS
# (relative to SOURCE_DIR) -DSOURCES (comma-separated, relative) -DWORK_DIR
# -DMIN_MESSAGES.
string(REPLACE "," ";" sources "${SOURCES}")
get_filename_component(name ${TS} NAME)
set(copy ${WORK_DIR}/${name})
file(MAKE_DIRECTORY ${WORK_DIR})
configure_file(${SOURCE_DIR}/${TS} ${copy} COPYONLY)
execute_process(COMMAND ${LUPDATE} -silent -no-obsolete -locations none ${sources} -ts ${copy}
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${rc}):\n${out}${err}")
endif()
file(READ ${copy} text)
string(REGEX MATCHALL "<message[ >]" messages "${text}")
list(LENGTH messages count)
string(REGEX MATCHALL "<translation type=\"unfinished\"[^<]*</translation>" unfinished "${text}")
list(LENGTH unfinished missing)
if(missing GREATER 0)
  string(REGEX MATCHALL "<source>[^<]*</source>\n *<translation type=\"unfinished\"" where "${text}")
  message(FATAL_ERROR "${missing} texts have no translation in ${TS} (run scripts/translations and translate them):\n${where}")
endif()
if(count LESS MIN_MESSAGES)
  message(FATAL_ERROR "only ${count} texts in ${TS}, expected at least ${MIN_MESSAGES}")
endif()
message(STATUS "${TS}: ${count} texts, all translated")
