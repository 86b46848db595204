# Long-running robustness: the window and the firmware update against a line
# with every fault at once. The soak's length comes from ZETRA_SOAK_SECONDS
# (60 s here; scripts/soak runs the long form).
zetra_add_test(firmware_faults_test SOURCES firmware_faults_test.cpp LIBS zetra_deviceharness
  LABELS soak firmware TIMEOUT 300)
zetra_add_test(soak_test SOURCES soak_test.cpp app_support.h LIBS zetra_app zetra_simline
  LABELS soak TIMEOUT 300)
