# Builds the Debian package from the build tree and checks what it holds:
# the three programs (which start from the unpacked tree), the desktop entry,
# the icon, and a Depends line drawn from the shared libraries.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCPACK=... -DDPKG_DEB=... -DVERSION=... -P package_check.cmake

function(fail)
  message(FATAL_ERROR "package check: ${ARGV0}")
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
                WORKING_DIRECTORY "${BUILD_DIR}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB packages "${WORK_DIR}/*.deb")
list(LENGTH packages count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
  fail("cpack -G DEB gave ${rc} and ${count} packages:\n${out}${err}")
endif()

execute_process(COMMAND "${DPKG_DEB}" --contents "${packages}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("dpkg-deb --contents gave ${rc}")
endif()
foreach(path usr/bin/zetra-configurator usr/bin/zetra-cli usr/bin/zetra-sim
        usr/share/applications/zetra-configurator.desktop
        usr/share/icons/hicolor/48x48/apps/zetra-configurator.png
        usr/share/icons/hicolor/256x256/apps/zetra-configurator.png)
  if(NOT listing MATCHES " \\./${path}\n")
    fail("the package lacks /${path}:\n${listing}")
  endif()
endforeach()

execute_process(COMMAND "${DPKG_DEB}" --field "${packages}" Package Version Depends OUTPUT_VARIABLE fields)
if(NOT fields MATCHES "Package: zetra-configurator\n" OR NOT fields MATCHES "Version: ${VERSION}\n")
  fail("package name or version wrong:\n${fields}")
endif()
# Without dpkg-shlibdeps there would be no Depends at all; these are the
# libraries every one of the programs needs.
foreach(library libqt5core5a libqt5serialport5 libqt5widgets5 libqcustomplot libstdc\\+\\+6)
  if(NOT fields MATCHES "Depends:[^\n]*${library}")
    fail("Depends lacks ${library}:\n${fields}")
  endif()
endforeach()

# The unpacked programs start, away from the build tree.
execute_process(COMMAND "${DPKG_DEB}" --extract "${packages}" "${WORK_DIR}/root" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("dpkg-deb --extract gave ${rc}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/check_programs.cmake)
check_programs_start("${WORK_DIR}/root/usr/bin" "${VERSION}")

message(STATUS "package ${packages} is complete")
