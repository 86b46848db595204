# The English translation covers every text of the window: lupdate run over
# the code into a copy of the .ts finds no text without its English, and the
# file holds at least MIN_MESSAGES texts. Run with -DLUPDATE -DSOURCE_DIR
# -DWORK_DIR -DMIN_MESSAGES.
set(ts ${SOURCE_DIR}/app/translations/zetra_en.ts)
set(copy ${WORK_DIR}/zetra_en.ts)
file(MAKE_DIRECTORY ${WORK_DIR})
configure_file(${ts} ${copy} COPYONLY)
execute_process(COMMAND ${LUPDATE} -silent -no-obsolete -locations none app device -ts ${copy}
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
  message(FATAL_ERROR "${missing} texts have no English (run scripts/translations and translate them):\n${where}")
endif()
if(count LESS MIN_MESSAGES)
  message(FATAL_ERROR "only ${count} texts in the translation, expected at least ${MIN_MESSAGES}")
endif()
message(STATUS "${count} texts, all translated")
