# Who the installer speaks for: brand, product, publisher and version, set once here and written
# into the version resource, the manifest, the executable's name, product.ini and the packed
# skin. Rebranding sets these and redraws the pictures (tools/skin/make_skin.py); nothing else.
include_guard(GLOBAL)

set(INSTALLER_BRAND "Nolt" CACHE STRING "Brand the product is sold under")
set(INSTALLER_PRODUCT "Clipmint" CACHE STRING "Product name, as the user reads it")
set(INSTALLER_PUBLISHER "Nolt" CACHE STRING "Company named in the version resource")
set(INSTALLER_PRODUCT_PROCESS "Minteo.exe" CACHE STRING
    "File name of the installed product's program (Start Now runs it; running copies are asked to end)")
set(INSTALLER_ANALYTICS_CATEGORY "${INSTALLER_BRAND}_${INSTALLER_PRODUCT}" CACHE STRING
    "Analytics event category")
set(INSTALLER_ANALYTICS_PREFIX "${INSTALLER_PRODUCT}_Free_Installer" CACHE STRING
    "Analytics event name prefix")

foreach(name INSTALLER_BRAND INSTALLER_PRODUCT INSTALLER_PUBLISHER INSTALLER_PRODUCT_PROCESS
             INSTALLER_ANALYTICS_CATEGORY INSTALLER_ANALYTICS_PREFIX)
  # They end up in file names, resource strings, XML and key=value lines.
  if("${${name}}" STREQUAL "" OR "${${name}}" MATCHES "[=\"<>&\\\\/:*?|\r\n]")
    message(FATAL_ERROR "${name} must be non-empty and free of = \" < > & \\ / : * ? |: '${${name}}'")
  endif()
endforeach()

set(INSTALLER_OUTPUT_NAME "${INSTALLER_PRODUCT}_installer")
# Scripts find the executable by this name in the build folder.
file(WRITE "${PROJECT_BINARY_DIR}/installer-name" "${INSTALLER_OUTPUT_NAME}.exe\n")
# Four numbers for the version resource and the manifest, whatever project(VERSION) gave.
foreach(part MAJOR MINOR PATCH TWEAK)
  set(INSTALLER_VERSION_${part} "${PROJECT_VERSION_${part}}")
  if(INSTALLER_VERSION_${part} STREQUAL "")
    set(INSTALLER_VERSION_${part} 0)
  endif()
endforeach()
set(INSTALLER_VERSION_COMMAS
    "${INSTALLER_VERSION_MAJOR},${INSTALLER_VERSION_MINOR},${INSTALLER_VERSION_PATCH},${INSTALLER_VERSION_TWEAK}")
set(INSTALLER_VERSION_DOTS
    "${INSTALLER_VERSION_MAJOR}.${INSTALLER_VERSION_MINOR}.${INSTALLER_VERSION_PATCH}.${INSTALLER_VERSION_TWEAK}")
