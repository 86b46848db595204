# The production station end to end: zetra-cli station against several
# zetra-sim processes at once, and the record each unit leaves.
zetra_add_test(station_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/station_test.cpp LIBS zetra_station zetra_recipewording zetra_codec
  LABELS cli sim station TIMEOUT 300)
target_compile_definitions(station_test PRIVATE ZETRA_CLI_PATH="$<TARGET_FILE:zetra-cli>")
add_dependencies(station_test zetra-cli)

# The recipe reader alone: what it refuses and where it says the fault is.
zetra_add_test(station_recipe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/station_recipe_test.cpp LIBS zetra_station zetra_recipewording
  LABELS station TIMEOUT 60)
