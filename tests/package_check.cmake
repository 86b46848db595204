# Builds the Debian package from the build tree and checks what it holds:
# the three programs (which start from the unpacked tree), the desktop entry,
# the icon, changelog, copyright and manual pages, and a Depends line drawn
# from the shared libraries.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCPACK=... -DDPKG_DEB=... -DVERSION=... -DPACKAGE_VERSION=...
#         -DQT_VERSION=5|6 -DQT_TRANSLATIONS=... -DQT_SQLITE=... -DGZIP=... -DMAN_PAGES=ON|OFF -P package_check.cmake

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
set(paths usr/bin/zetra-configurator usr/bin/zetra-cli usr/bin/zetra-sim
    usr/share/applications/zetra-configurator.desktop
    usr/share/icons/hicolor/48x48/apps/zetra-configurator.png
    usr/share/icons/hicolor/256x256/apps/zetra-configurator.png
    usr/share/doc/zetra-configurator/copyright
    usr/share/doc/zetra-configurator/changelog.Debian.gz)
set(programs zetra-configurator zetra-cli zetra-sim)
if(MAN_PAGES)
  foreach(program IN LISTS programs)
    list(APPEND paths usr/share/man/man1/${program}.1.gz)
  endforeach()
endif()
foreach(path IN LISTS paths)
  if(NOT listing MATCHES " \\./${path}\n")
    fail("the package lacks /${path}:\n${listing}")
  endif()
endforeach()

execute_process(COMMAND "${DPKG_DEB}" --field "${packages}" Package Version Depends OUTPUT_VARIABLE fields)
if(NOT fields MATCHES "Package: zetra-configurator\n" OR NOT fields MATCHES "Version: ${PACKAGE_VERSION}\n")
  fail("package name or version wrong:\n${fields}")
endif()
# Without dpkg-shlibdeps there would be no Depends at all; these are the
# libraries every one of the programs needs, of the Qt they were built with.
if(QT_VERSION EQUAL 6)
  set(libraries libqt6core6 libqt6serialport6 libqt6widgets6 libqcustomplot2.1-qt6)
else()
  set(libraries libqt5core5a libqt5serialport5 libqt5widgets5 "libqcustomplot2\\.1( |,|$)")
endif()
foreach(library ${libraries} libstdc\\+\\+6 ${QT_TRANSLATIONS} ${QT_SQLITE})
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

# Manual pages drawn from each program's --help: its options, and for
# zetra-cli the exit codes and the example session.
if(MAN_PAGES)
  set(parts_zetra-cli "\\.SH EXAMPLES" "Exit codes" "128\\+N" "zetra\\\\-cli \\\\-\\\\-port /tmp/zetra get")
  foreach(program IN LISTS programs)
    execute_process(COMMAND "${GZIP}" -dc "${WORK_DIR}/root/usr/share/man/man1/${program}.1.gz"
                    OUTPUT_VARIABLE page RESULT_VARIABLE rc)
    string(TOUPPER "${program}" title)
    foreach(part "\\.TH ${title} \"1\"" "\\.SH OPTIONS" "\\\\-\\\\-help" ${parts_${program}})
      if(NOT rc EQUAL 0 OR NOT page MATCHES "${part}")
        fail("${program}.1.gz lacks ${part}:\n${page}")
      endif()
    endforeach()
  endforeach()
endif()

message(STATUS "package ${packages} is complete")
