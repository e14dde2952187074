# Who may sign the setup package the installer runs elevated, and the throwaway signing authority
# that the demo package and the tests are signed with.
#
# A release pins its publisher: INSTALLER_PUBLISHER_NAME (the subject common name of the code-
# signing certificate) and INSTALLER_PUBLISHER_ROOT_SHA256 (hex SHA-256 of the root certificate
# the chain must end in). "demo" in both takes the authority made below in the build tree. The
# package digests (INSTALLER_URL_DOWN_SHA256 and _X64_) stay as an extra check; a configuration
# that pins neither a publisher nor both digests is refused.
include_guard(GLOBAL)

get_filename_component(_signing_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(PACKAGE_SIGNING_DIR "${CMAKE_BINARY_DIR}/package-signing" CACHE INTERNAL "")
set(PACKAGE_SIGNING_SCRIPT "${_signing_root}/tools/signing/sign_package.sh" CACHE INTERNAL "")
set(DEMO_PUBLISHER_NAME "Nolt Demo Publisher" CACHE INTERNAL "")
# The test authority's revocation case names a distribution point on PACKAGE_STALL_PORT that the
# verifier tests listen on without ever answering.
include(${CMAKE_CURRENT_LIST_DIR}/FixturePorts.cmake)

set(INSTALLER_PUBLISHER_NAME "demo" CACHE STRING
    "Subject common name of the package's code-signing certificate, or demo for the test authority")
set(INSTALLER_PUBLISHER_ROOT_SHA256 "demo" CACHE STRING
    "SHA-256 (hex) of the root certificate the package's chain must end in, or demo")

# The test authority is made once per build tree; the demo package and the tests need it
# whatever the release pins are.
find_program(OPENSSL_PROGRAM openssl)
find_program(OSSLSIGNCODE_PROGRAM osslsigncode)
if(NOT OPENSSL_PROGRAM OR NOT OSSLSIGNCODE_PROGRAM)
  message(FATAL_ERROR "openssl and osslsigncode are needed to sign the demo package "
                      "(scripts/deps.sh installs them)")
endif()
execute_process(COMMAND "${_signing_root}/tools/signing/make_certs.sh" "${PACKAGE_SIGNING_DIR}"
                        "${DEMO_PUBLISHER_NAME}" "${PACKAGE_STALL_PORT}"
                RESULT_VARIABLE _signing_result)
if(NOT _signing_result EQUAL 0)
  message(FATAL_ERROR "Making the test signing authority in ${PACKAGE_SIGNING_DIR} failed")
endif()
file(SHA256 "${PACKAGE_SIGNING_DIR}/root.der" DEMO_ROOT_SHA256)
set(DEMO_ROOT_SHA256 "${DEMO_ROOT_SHA256}" CACHE INTERNAL "")

# What the installer is built with.
set(PINNED_PUBLISHER_NAME "${INSTALLER_PUBLISHER_NAME}")
if(PINNED_PUBLISHER_NAME STREQUAL "demo")
  set(PINNED_PUBLISHER_NAME "${DEMO_PUBLISHER_NAME}")
endif()
set(PINNED_ROOT_SHA256 "${INSTALLER_PUBLISHER_ROOT_SHA256}")
if(PINNED_ROOT_SHA256 STREQUAL "demo")
  set(PINNED_ROOT_SHA256 "${DEMO_ROOT_SHA256}")
endif()
string(TOLOWER "${PINNED_ROOT_SHA256}" PINNED_ROOT_SHA256)
# Other directories (the hand-check tool, the tests) read the pins as well.
set(PINNED_PUBLISHER_NAME "${PINNED_PUBLISHER_NAME}" CACHE INTERNAL "")
set(PINNED_ROOT_SHA256 "${PINNED_ROOT_SHA256}" CACHE INTERNAL "")

set(_how "Set -DINSTALLER_PUBLISHER_NAME=<certificate common name> and "
         "-DINSTALLER_PUBLISHER_ROOT_SHA256=<hex SHA-256 of the root certificate> (or demo for "
         "both), or the package digests -DINSTALLER_URL_DOWN_SHA256=<hex> and "
         "-DINSTALLER_URL_DOWN_X64_SHA256=<hex>.")
string(JOIN "" _how ${_how})
if((PINNED_PUBLISHER_NAME STREQUAL "") AND NOT (PINNED_ROOT_SHA256 STREQUAL ""))
  message(FATAL_ERROR "INSTALLER_PUBLISHER_ROOT_SHA256 is set without INSTALLER_PUBLISHER_NAME. ${_how}")
endif()
if(NOT (PINNED_PUBLISHER_NAME STREQUAL "") AND (PINNED_ROOT_SHA256 STREQUAL ""))
  message(FATAL_ERROR "INSTALLER_PUBLISHER_NAME is set without INSTALLER_PUBLISHER_ROOT_SHA256. ${_how}")
endif()
if(NOT (PINNED_ROOT_SHA256 STREQUAL "") AND NOT PINNED_ROOT_SHA256 MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "INSTALLER_PUBLISHER_ROOT_SHA256 is not hexadecimal: ${PINNED_ROOT_SHA256}")
endif()
if(PINNED_PUBLISHER_NAME STREQUAL "" AND
   ("${INSTALLER_URL_DOWN_SHA256}" STREQUAL "" OR "${INSTALLER_URL_DOWN_X64_SHA256}" STREQUAL ""))
  message(FATAL_ERROR "The installer would run a downloaded package it cannot verify: "
                      "neither a publisher nor a digest of each package is pinned. ${_how}")
endif()

# Signs a package target in place after each link and writes its untrusted variants beside it.
function(package_signing_sign target)
  # The signing happens after the link, so a certificate made anew (another stall port, a new
  # authority) relinks the package.
  file(GLOB certificates "${PACKAGE_SIGNING_DIR}/*.crt")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${certificates}
                                                           "${PACKAGE_SIGNING_DIR}/stall_port.txt")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${PACKAGE_SIGNING_SCRIPT}" "${PACKAGE_SIGNING_DIR}" "$<TARGET_FILE:${target}>"
    COMMENT "Signing ${target} with the test authority"
    VERBATIM)
endfunction()
