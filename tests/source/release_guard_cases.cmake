# Runs the release guard on one set of settings: cmake -DCASE=<name> -DGUARD=<ReleaseGuard.cmake>
# -P this file. Fails (as a configuration would) when the guard refuses them.
set(INSTALLER_RELEASE ON)
set(INSTALLER_DEMO_SERVER "http://127.0.0.1:18080")
set(DEMO_ROOT_SHA256 "feedfacefeedfacefeedfacefeedfacefeedfacefeedfacefeedfacefeedface")
foreach(name INSTALLER_URL_DOWN INSTALLER_URL_DOWN_X64 INSTALLER_URL_SERVICE_EN
             INSTALLER_URL_SERVICE_DE INSTALLER_URL_INSTALL_EN INSTALLER_URL_INSTALL_DE
             INSTALLER_GA_ENDPOINT)
  set(${name} "https://product.example/${name}")
endforeach()
set(INSTALLER_GA_MEASUREMENT_ID "G-PRODUCT")
set(INSTALLER_GA_API_SECRET "secret")
set(INSTALLER_PUBLISHER_NAME "Product Publisher")
set(INSTALLER_PUBLISHER_ROOT_SHA256
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef")
if(CASE STREQUAL "http_package")
  set(INSTALLER_URL_DOWN "http://product.example/setup.exe")
elseif(CASE STREQUAL "http_endpoint")
  set(INSTALLER_GA_ENDPOINT "http://collect.example/mp")
elseif(CASE STREQUAL "short_root")
  set(INSTALLER_PUBLISHER_ROOT_SHA256 "00")
elseif(CASE STREQUAL "throwaway_root")
  string(TOUPPER "${DEMO_ROOT_SHA256}" INSTALLER_PUBLISHER_ROOT_SHA256)
elseif(NOT CASE STREQUAL "good")
  message(FATAL_ERROR "unknown case ${CASE}")
endif()
include("${GUARD}")
release_guard_check()
