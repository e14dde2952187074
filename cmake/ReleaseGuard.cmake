# Refuses a release build that would ship the demo's settings: every URL, the analytics endpoint
# and its keys must have been set for the real product, and no digest may stand for the demo.
include_guard(GLOBAL)

function(release_guard_check)
  if(NOT INSTALLER_RELEASE)
    return()
  endif()
  set(problems "")
  foreach(name INSTALLER_URL_DOWN INSTALLER_URL_DOWN_X64 INSTALLER_URL_SERVICE_EN
               INSTALLER_URL_SERVICE_DE INSTALLER_URL_INSTALL_EN INSTALLER_URL_INSTALL_DE
               INSTALLER_GA_ENDPOINT)
    set(value "${${name}}")
    if(value STREQUAL "" OR value MATCHES "^https?://(127\\.|localhost[:/]|\\[::1\\])"
       OR value MATCHES "^${INSTALLER_DEMO_SERVER}")
      list(APPEND problems "${name} is '${value}', a demo or empty address")
    endif()
  endforeach()
  # The package is run elevated and the endpoint's address carries the API secret: neither may
  # travel where anyone on the way can read or change it.
  foreach(name INSTALLER_URL_DOWN INSTALLER_URL_DOWN_X64 INSTALLER_GA_ENDPOINT)
    if(NOT "${${name}}" MATCHES "^[Hh][Tt][Tt][Pp][Ss]://")
      list(APPEND problems "${name} is '${${name}}', not an https:// address")
    endif()
  endforeach()
  foreach(name INSTALLER_GA_MEASUREMENT_ID INSTALLER_GA_API_SECRET)
    if("${${name}}" MATCHES "^$|[Dd][Ee][Mm][Oo]")
      list(APPEND problems "${name} is '${${name}}', the demo's value")
    endif()
  endforeach()
  foreach(name INSTALLER_URL_DOWN_SHA256 INSTALLER_URL_DOWN_X64_SHA256)
    if("${${name}}" STREQUAL "demo")
      list(APPEND problems "${name} is 'demo', the digest of this tree's demo package")
    endif()
  endforeach()
  # The throwaway authority the build makes for the demo must never be what a release trusts.
  foreach(name INSTALLER_PUBLISHER_NAME INSTALLER_PUBLISHER_ROOT_SHA256)
    if("${${name}}" STREQUAL "demo")
      list(APPEND problems "${name} is 'demo', the build's throwaway signing authority")
    endif()
  endforeach()
  if(NOT "${INSTALLER_PUBLISHER_ROOT_SHA256}" MATCHES "^[0-9A-Fa-f]+$" OR
     NOT "${INSTALLER_PUBLISHER_ROOT_SHA256}" MATCHES "^................................................................$")
    list(APPEND problems "INSTALLER_PUBLISHER_ROOT_SHA256 is '${INSTALLER_PUBLISHER_ROOT_SHA256}', "
                         "not the 64 hex digits of a SHA-256")
  endif()
  string(TOLOWER "${INSTALLER_PUBLISHER_ROOT_SHA256}" _pinned_root)
  if(NOT "${DEMO_ROOT_SHA256}" STREQUAL "" AND _pinned_root STREQUAL "${DEMO_ROOT_SHA256}")
    list(APPEND problems "INSTALLER_PUBLISHER_ROOT_SHA256 is this build tree's throwaway root")
  endif()
  if("${INSTALLER_PUBLISHER_NAME}" STREQUAL "")
    list(APPEND problems "INSTALLER_PUBLISHER_NAME is empty: a release pins its publisher")
  endif()
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "A release build (INSTALLER_RELEASE=ON) refuses the demo settings:\n  ${text}\n"
                        "Set the product's values, e.g. -DINSTALLER_URL_DOWN=https://... "
                        "(README: Building a release).")
  endif()
endfunction()
