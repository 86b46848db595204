# check_programs_start(BINDIR VERSION): the three installed programs start
# from BINDIR, away from the build tree. Included by the install checks,
# which define fail().
function(check_programs_start bindir version)
  execute_process(COMMAND "${bindir}/zetra-sim" --help
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
  if(NOT rc EQUAL 0 OR NOT "${out}${err}" MATCHES "--link")
    fail("${bindir}/zetra-sim --help gave ${rc}:\n${out}${err}")
  endif()
  foreach(program zetra-cli zetra-configurator)
    execute_process(COMMAND "${bindir}/${program}" --version
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "${program} ${version}")
      fail("${bindir}/${program} --version gave ${rc}:\n${out}${err}")
    endif()
  endforeach()
endfunction()
