# The one version number of the package: the project's, or KORVEX_VERSION for a package build
# under another one. The programs' version resources follow it:
#   Korvex.exe         file version MAJOR.MINOR.PATCH.49, product version MAJOR.MINOR.0.0;
#   KorvexService.exe  2.0.0.2 / 2.0.0.0 up to 5.0.7, the package's MAJOR.MINOR.PATCH.2 /
#                      MAJOR.MINOR.PATCH.0 after it, so that an upgrade replaces it with a higher
#                      file version (Windows Installer keeps a file of the same version).
set(KORVEX_VERSION "${PROJECT_VERSION}" CACHE STRING "Version of the programs and the packages (MAJOR.MINOR.PATCH)")
if(NOT KORVEX_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "KORVEX_VERSION must be MAJOR.MINOR.PATCH, not '${KORVEX_VERSION}'")
endif()
set(korvex_major ${CMAKE_MATCH_1})
set(korvex_minor ${CMAKE_MATCH_2})
set(korvex_patch ${CMAKE_MATCH_3})
foreach(part IN ITEMS ${korvex_major} ${korvex_minor} ${korvex_patch})
  if(part GREATER 65535)
    message(FATAL_ERROR "KORVEX_VERSION parts must fit into 16 bits: '${KORVEX_VERSION}'")
  endif()
endforeach()

set(KORVEX_CLIENT_FILE_VERSION "${korvex_major}.${korvex_minor}.${korvex_patch}.49")
set(KORVEX_CLIENT_PRODUCT_VERSION "${korvex_major}.${korvex_minor}.0.0")
if(KORVEX_VERSION VERSION_LESS_EQUAL 5.0.7)
  set(KORVEX_SERVICE_FILE_VERSION "2.0.0.2")
  set(KORVEX_SERVICE_PRODUCT_VERSION "2.0.0.0")
else()
  set(KORVEX_SERVICE_FILE_VERSION "${KORVEX_VERSION}.2")
  set(KORVEX_SERVICE_PRODUCT_VERSION "${KORVEX_VERSION}.0")
endif()

foreach(name IN ITEMS CLIENT_FILE CLIENT_PRODUCT SERVICE_FILE SERVICE_PRODUCT)
  string(REPLACE "." "," KORVEX_${name}_VERSION_COMMAS "${KORVEX_${name}_VERSION}")
endforeach()
set(KORVEX_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/korvex_version.h.in ${KORVEX_GENERATED_DIR}/korvex_version.h @ONLY)
# For the resource scripts of both programs (and of the tests that compile the client's).
include_directories(${KORVEX_GENERATED_DIR})
