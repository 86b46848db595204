# End to end against a Modbus slave this project did not write: pymodbus
# (tests/peer/zetra_peer.py) on one end of a socat pty pair. The tests skip
# only when no python3 imports pymodbus.
add_library(zetra_peersupport STATIC ${CMAKE_CURRENT_LIST_DIR}/peerprocess.cpp ${CMAKE_CURRENT_LIST_DIR}/peerprocess.h)
target_include_directories(zetra_peersupport PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zetra_peersupport PUBLIC Qt::Core Qt::Test)
target_compile_definitions(zetra_peersupport PUBLIC
  ZETRA_PEER_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/peer/zetra_peer.py")

zetra_add_test(peer_cli_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/peer_cli_test.cpp
  LIBS zetra_peersupport zetra_codec LABELS cli peer e2e TIMEOUT 300)
target_compile_definitions(peer_cli_test PRIVATE ZETRA_CLI_PATH="$<TARGET_FILE:zetra-cli>")
add_dependencies(peer_cli_test zetra-cli)

zetra_add_test(peer_device_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/peer_device_test.cpp
  LIBS zetra_peersupport zetra_deviceharness LABELS device peer e2e TIMEOUT 300)
