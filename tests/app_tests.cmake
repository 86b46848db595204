# Window tests: the real form, offscreen, against zetra-sim where a device is needed.
zetra_add_test(app_form_modes SOURCES app_form_modes.cpp app_support.h LIBS zetra_app LABELS app TIMEOUT 300)
zetra_add_test(app_panel_logs SOURCES app_panel_logs.cpp app_support.h LIBS zetra_app LABELS app TIMEOUT 300)
zetra_add_test(app_device SOURCES app_device.cpp app_support.h LIBS zetra_app zetra_deviceharness zetra_simmodel LABELS app sim TIMEOUT 600)
zetra_add_test(app_cli SOURCES app_cli.cpp LIBS Qt::Gui LABELS app sim TIMEOUT 300)
target_compile_definitions(app_cli PRIVATE ZETRA_CONFIGURATOR_PATH="$<TARGET_FILE:zetra-configurator>")
add_dependencies(app_cli zetra-configurator)
zetra_add_test(app_service SOURCES app_service.cpp app_support.h LIBS zetra_app zetra_simmodel LABELS app sim TIMEOUT 600)

# Every tr() text of the window and the device object has its English, and
# the device's English texts have their Russian.
add_test(NAME app_translation_complete
  COMMAND ${CMAKE_COMMAND} -DLUPDATE=$<TARGET_FILE:${ZETRA_LUPDATE}> -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DTS=app/translations/zetra_en.ts -DSOURCES=app,device
          -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/translation-check -DMIN_MESSAGES=150
          -P ${CMAKE_CURRENT_SOURCE_DIR}/translation_check.cmake)
add_test(NAME app_translation_ru_complete
  COMMAND ${CMAKE_COMMAND} -DLUPDATE=$<TARGET_FILE:${ZETRA_LUPDATE}> -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DTS=app/translations/zetra_ru.ts -DSOURCES=device/deviceparameters.cpp
          -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/translation-check -DMIN_MESSAGES=1
          -P ${CMAKE_CURRENT_SOURCE_DIR}/translation_check.cmake)
set_tests_properties(app_translation_complete app_translation_ru_complete PROPERTIES LABELS app TIMEOUT 120)
zetra_add_test(app_language SOURCES app_language.cpp app_support.h LIBS zetra_app LABELS app TIMEOUT 300)
# Station mode: three simulated units from the tiles, the records browser and a unit's history.
zetra_add_test(app_station SOURCES app_station.cpp app_support.h LIBS zetra_app LABELS app sim station TIMEOUT 300)
# The records browser over several pages of runs written by the real store: paging, the last day, the export.
zetra_add_test(app_records SOURCES app_records.cpp app_support.h LIBS zetra_app LABELS app records TIMEOUT 300)
