# The command-line tool end to end: the real zetra-cli against zetra-sim.
zetra_add_test(cli_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_test.cpp LIBS zetra_devicetools zetra_simline LABELS cli sim
  TIMEOUT 600)
target_compile_definitions(cli_test PRIVATE ZETRA_CLI_PATH="$<TARGET_FILE:zetra-cli>")
add_dependencies(cli_test zetra-cli)
