# The station's records: the store on real SQLite files, with writers in
# processes of their own that run at once or are killed part-way.
add_executable(records_writer ${CMAKE_CURRENT_LIST_DIR}/records_writer.cpp)
target_link_libraries(records_writer PRIVATE zetra_records Qt::Core)
zetra_add_test(records_store_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_store_test.cpp
  LIBS zetra_records Qt::Sql LABELS records TIMEOUT 600)
target_compile_definitions(records_store_test PRIVATE ZETRA_RECORDS_WRITER_PATH="$<TARGET_FILE:records_writer>")
add_dependencies(records_store_test records_writer)

# zetra-cli records against files the store wrote, or a killed writer left.
zetra_add_test(records_cli_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_cli_test.cpp
  LIBS zetra_records Qt::Sql LABELS records cli)
target_compile_definitions(records_cli_test PRIVATE ZETRA_CLI_PATH="$<TARGET_FILE:zetra-cli>"
  ZETRA_RECORDS_WRITER_PATH="$<TARGET_FILE:records_writer>")
add_dependencies(records_cli_test zetra-cli records_writer)

# Records shared through a PostgreSQL server the test starts itself; the
# server's own programs run as the user postgres when the test is root.
add_library(zetra_postgresserver STATIC ${CMAKE_CURRENT_LIST_DIR}/postgresserver.cpp ${CMAKE_CURRENT_LIST_DIR}/postgresserver.h)
target_link_libraries(zetra_postgresserver PUBLIC Qt::Core Qt::Sql)
zetra_add_test(postgres_records_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/postgres_records_test.cpp
  LIBS zetra_records zetra_postgresserver Qt::Sql LABELS records postgres TIMEOUT 300)
target_compile_definitions(postgres_records_test PRIVATE ZETRA_CLI_PATH="$<TARGET_FILE:zetra-cli>"
  ZETRA_RECORDS_WRITER_PATH="$<TARGET_FILE:records_writer>")
add_dependencies(postgres_records_test zetra-cli records_writer)
