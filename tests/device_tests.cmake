add_library(zetra_deviceharness STATIC deviceharness.cpp deviceharness.h)
target_link_libraries(zetra_deviceharness PUBLIC zetra_device Qt::Test)
target_include_directories(zetra_deviceharness PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

zetra_add_test(device_frames_test SOURCES device_frames_test.cpp LIBS zetra_device zetra_cliwording LABELS device)
zetra_add_test(device_line_test SOURCES device_line_test.cpp LIBS zetra_deviceharness zetra_simmodel LABELS device e2e TIMEOUT 600)
zetra_add_test(device_procedures_test SOURCES device_procedures_test.cpp LIBS zetra_deviceharness LABELS device e2e TIMEOUT 900)
zetra_add_test(device_measurement_test SOURCES device_measurement_test.cpp LIBS zetra_deviceharness LABELS device e2e TIMEOUT 600)
zetra_add_test(device_pause_test SOURCES device_pause_test.cpp LIBS zetra_deviceharness LABELS device e2e)
