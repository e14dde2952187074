# The skin package: resources/ packed into one ZIP with this build's URLs, embedded in a program.
#
#   include(SkinArchive)
#   skin_archive_embed(<target>)  # the archive as resource "ZIP" 133 and the icon group 107
#
# The committed files in resources/ carry the demo settings; the values below replace them in
# the packed copies, so a release only sets cache variables. A value cannot hold "=", because
# the string tables split each line there.
include_guard(GLOBAL)

# Cached, because the functions below run in other directories than the one including this.
get_filename_component(_skin_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(SKIN_RESOURCES "${_skin_root}/resources" CACHE INTERNAL "")
set(SKIN_PACK_SCRIPT "${_skin_root}/tools/skin/pack_skin.cmake" CACHE INTERNAL "")
set(SKIN_ZIP_SCRIPT "${_skin_root}/tools/skin/zip_tree.py" CACHE INTERNAL "")
set(SKIN_BINARY_DIR "${CMAKE_BINARY_DIR}/skin" CACHE INTERNAL "")
set(SKIN_ARCHIVE "${SKIN_BINARY_DIR}/skin.zip" CACHE INTERNAL "")
set(SKIN_ICON "${SKIN_RESOURCES}/installer.ico" CACHE INTERNAL "")

include(${CMAKE_CURRENT_LIST_DIR}/FixturePorts.cmake)
set(INSTALLER_DEMO_SERVER "http://127.0.0.1:${INSTALLER_DEMO_PORT}" CACHE STRING
    "Base URL of the local demo server that the default URLs point at")
set(INSTALLER_URL_DOWN "${INSTALLER_DEMO_SERVER}/Clipmint_full_setup.exe" CACHE STRING
    "Full setup package for 32-bit systems")
set(INSTALLER_URL_DOWN_X64 "${INSTALLER_DEMO_SERVER}/Clipmint_full_setup_x64.exe" CACHE STRING
    "Full setup package for 64-bit systems")
set(INSTALLER_URL_DOWN_SHA256 "demo" CACHE STRING
    "SHA-256 of the 32-bit package on top of its signature: hex, empty, or demo for this tree's")
set(INSTALLER_URL_DOWN_X64_SHA256 "demo" CACHE STRING
    "SHA-256 of the 64-bit package on top of its signature: hex, empty, or demo for this tree's")
set(INSTALLER_URL_SERVICE_EN "${INSTALLER_DEMO_SERVER}/terms/en.html" CACHE STRING
    "Terms of service, English")
set(INSTALLER_URL_SERVICE_DE "${INSTALLER_DEMO_SERVER}/terms/de.html" CACHE STRING
    "Terms of service, German")
set(INSTALLER_URL_INSTALL_EN "${INSTALLER_DEMO_SERVER}/welcome/en.html" CACHE STRING
    "Page opened after the installation, English")
set(INSTALLER_URL_INSTALL_DE "${INSTALLER_DEMO_SERVER}/welcome/de.html" CACHE STRING
    "Page opened after the installation, German")
set(INSTALLER_GA_ENDPOINT "https://localhost:${INSTALLER_COLLECTOR_PORT}/mp/collect" CACHE STRING
    "Measurement-protocol endpoint of the analytics events")
set(INSTALLER_GA_MEASUREMENT_ID "G-DEMO000000" CACHE STRING "Analytics measurement id")
set(INSTALLER_GA_API_SECRET "demo-secret" CACHE STRING "Analytics API secret")

# The publisher pins; refuses a configuration that would leave the package unverified.
include(${CMAKE_CURRENT_LIST_DIR}/PackageSigning.cmake)

set(_skin_settings
    PINNED_PUBLISHER_NAME PINNED_ROOT_SHA256 INSTALLER_URL_DOWN INSTALLER_URL_DOWN_X64 INSTALLER_URL_DOWN_SHA256
    INSTALLER_URL_DOWN_X64_SHA256 INSTALLER_URL_SERVICE_EN INSTALLER_URL_SERVICE_DE
    INSTALLER_URL_INSTALL_EN INSTALLER_URL_INSTALL_DE INSTALLER_GA_ENDPOINT
    INSTALLER_GA_MEASUREMENT_ID INSTALLER_GA_API_SECRET
    INSTALLER_BRAND INSTALLER_PRODUCT INSTALLER_PRODUCT_PROCESS INSTALLER_ANALYTICS_CATEGORY
    INSTALLER_ANALYTICS_PREFIX)
foreach(_name IN LISTS _skin_settings)
  if("${${_name}}" MATCHES "[=\r\n]")
    message(FATAL_ERROR "${_name} must not contain '=' or a line break: ${${_name}}")
  endif()
endforeach()

# The pack step reads the settings from this file; it is rewritten only when a value changes,
# so an unchanged configuration does not repack.
set(_skin_settings_text "")
foreach(_name IN LISTS _skin_settings)
  string(APPEND _skin_settings_text "set(${_name} [==[${${_name}}]==])\n")
endforeach()
file(CONFIGURE OUTPUT "${SKIN_BINARY_DIR}/settings.cmake" CONTENT "${_skin_settings_text}")

# The resource script every embedding target compiles.
file(CONFIGURE OUTPUT "${SKIN_BINARY_DIR}/skin.rc" CONTENT
     "// The skin package and the program's icon.\n107 ICON \"${SKIN_ICON}\"\n133 ZIP \"${SKIN_ARCHIVE}\"\n")

# The packing rule is made once, at the end of the top-level directory, when every target is
# known: "demo" hashes need the demo package target, which is defined after the installer.
function(_skin_archive_define_rule)
  set(package "")
  set(package_depends "")
  if(INSTALLER_URL_DOWN_SHA256 STREQUAL "demo" OR INSTALLER_URL_DOWN_X64_SHA256 STREQUAL "demo")
    if(TARGET demo_package)
      set(package "$<TARGET_FILE:demo_package>")
      set(package_depends demo_package "$<TARGET_FILE:demo_package>")
    else()
      message(WARNING "No demo_package target: the 'demo' package hashes are written empty")
    endif()
  endif()
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS "${SKIN_RESOURCES}/*")
  add_custom_command(
    OUTPUT "${SKIN_ARCHIVE}"
    COMMAND "${CMAKE_COMMAND}" "-DSKIN_RESOURCES=${SKIN_RESOURCES}"
            "-DSKIN_SETTINGS=${SKIN_BINARY_DIR}/settings.cmake" "-DSKIN_STAGE=${SKIN_BINARY_DIR}/stage"
            "-DSKIN_ARCHIVE=${SKIN_ARCHIVE}" "-DSKIN_DEMO_PACKAGE=${package}"
            -P "${SKIN_PACK_SCRIPT}"
    DEPENDS ${inputs} "${SKIN_PACK_SCRIPT}" "${SKIN_ZIP_SCRIPT}"
            "${SKIN_BINARY_DIR}/settings.cmake" ${package_depends}
    COMMENT "Packing the skin archive"
    VERBATIM)
  add_custom_target(skin_archive DEPENDS "${SKIN_ARCHIVE}")
endfunction()

cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _skin_archive_define_rule)

function(skin_archive_embed target)
  target_sources(${target} PRIVATE "${SKIN_BINARY_DIR}/skin.rc")
  # The resource compiler does not track files that the script pulls in.
  set_source_files_properties("${SKIN_BINARY_DIR}/skin.rc" PROPERTIES
                              OBJECT_DEPENDS "${SKIN_ARCHIVE};${SKIN_ICON}")
  add_dependencies(${target} skin_archive)
endfunction()
