# Simulator tests: the model driven directly, the line through the
# pseudo-terminal, and an independent Modbus master (libmodbus) as peer.
find_package(PkgConfig REQUIRED)
pkg_check_modules(MODBUS REQUIRED IMPORTED_TARGET libmodbus)

zetra_add_test(sim_model_tests
  SOURCES sim_model_tests.cpp
  LIBS zetra_simmodel
  LABELS sim
  TIMEOUT 120)

zetra_add_test(sim_line_tests
  SOURCES sim_line_tests.cpp
  LIBS zetra_simline
  LABELS sim
  TIMEOUT 300)

zetra_add_test(sim_modbus_tests
  SOURCES sim_modbus_tests.cpp
  LIBS zetra_simmodel PkgConfig::MODBUS
  LABELS sim
  TIMEOUT 300)
