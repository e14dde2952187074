# Packs the skin: copies resources/ into a staging folder, writes this build's URLs, package
# hashes, publisher pins and analytics settings into the copies, and zips the tree (deflate,
# recompressed by advzip when it is installed) under "resources/".
#
# cmake -DSKIN_RESOURCES=... -DSKIN_SETTINGS=... -DSKIN_STAGE=... -DSKIN_ARCHIVE=...
#       [-DSKIN_DEMO_PACKAGE=file] -P pack_skin.cmake
cmake_minimum_required(VERSION 3.20)

foreach(required SKIN_RESOURCES SKIN_SETTINGS SKIN_STAGE SKIN_ARCHIVE)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "pack_skin.cmake needs -D${required}=...")
  endif()
endforeach()
include("${SKIN_SETTINGS}")

# "demo" stands for the hash of the demo package built in the same tree.
function(resolve_hash out value)
  if(value STREQUAL "demo")
    if(SKIN_DEMO_PACKAGE AND EXISTS "${SKIN_DEMO_PACKAGE}")
      file(SHA256 "${SKIN_DEMO_PACKAGE}" value)
    else()
      set(value "")
    endif()
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
resolve_hash(down_sha256 "${INSTALLER_URL_DOWN_SHA256}")
resolve_hash(down_x64_sha256 "${INSTALLER_URL_DOWN_X64_SHA256}")

# Replaces the value of `key` on its own line. A key that has gone missing from the committed
# file is an error: the installer would silently lose the setting.
function(set_key text_var file key value)
  set(text "${${text_var}}")
  if(NOT text MATCHES "(^|\n)${key}[ \t]*=")
    message(FATAL_ERROR "${file} has no line for ${key}")
  endif()
  string(REPLACE "\\" "\\\\" replacement "${value}")
  string(REGEX REPLACE "(^|\n)${key}[ \t]*=[^\r\n]*" "\\1${key}=${replacement}" text "${text}")
  set(${text_var} "${text}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${SKIN_STAGE}")
file(MAKE_DIRECTORY "${SKIN_STAGE}/resources")
# The icon lives beside the package, not in it: the executable carries it as a resource.
file(COPY "${SKIN_RESOURCES}/product.ini" "${SKIN_RESOURCES}/lang" "${SKIN_RESOURCES}/themes"
     DESTINATION "${SKIN_STAGE}/resources")

set(languages English en German de)
while(languages)
  list(POP_FRONT languages language code)
  string(TOUPPER "${code}" code)
  set(file "${SKIN_STAGE}/resources/lang/${language}/gdstrings.ini")
  file(READ "${file}" text)
  set_key(text "${file}" URLID_DOWN "${INSTALLER_URL_DOWN}")
  set_key(text "${file}" URLID_DOWN_X64 "${INSTALLER_URL_DOWN_X64}")
  set_key(text "${file}" URLID_DOWN_SHA256 "${down_sha256}")
  set_key(text "${file}" URLID_DOWN_X64_SHA256 "${down_x64_sha256}")
  set_key(text "${file}" URLID_SERVICE "${INSTALLER_URL_SERVICE_${code}}")
  set_key(text "${file}" URLID_INSTALL "${INSTALLER_URL_INSTALL_${code}}")
  file(WRITE "${file}" "${text}")
endwhile()

set(file "${SKIN_STAGE}/resources/product.ini")
file(READ "${file}" text)
set_key(text "${file}" BRAND_NAME "${INSTALLER_BRAND}")
set_key(text "${file}" PRODUCT_NAME "${INSTALLER_PRODUCT}")
set_key(text "${file}" PROCESS_NAME "${INSTALLER_PRODUCT_PROCESS}")
set_key(text "${file}" GA_EC "${INSTALLER_ANALYTICS_CATEGORY}")
set_key(text "${file}" GA_EN "${INSTALLER_ANALYTICS_PREFIX}")
set_key(text "${file}" GA_ENDPOINT "${INSTALLER_GA_ENDPOINT}")
set_key(text "${file}" GA_MEASUREMENT_ID "${INSTALLER_GA_MEASUREMENT_ID}")
set_key(text "${file}" GA_API_SECRET "${INSTALLER_GA_API_SECRET}")
set_key(text "${file}" PUBLISHER_NAME "${PINNED_PUBLISHER_NAME}")
set_key(text "${file}" PUBLISHER_ROOT_SHA256 "${PINNED_ROOT_SHA256}")
file(WRITE "${file}" "${text}")

# Sorted entries, one fixed time stamp and no extra fields keep the archive identical from build
# to build for the same inputs, wherever the tree is.
file(REMOVE "${SKIN_ARCHIVE}.tmp")
find_program(SKIN_PYTHON NAMES python3 REQUIRED)
get_filename_component(_pack_dir "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
execute_process(
  COMMAND "${SKIN_PYTHON}" "${_pack_dir}/zip_tree.py" "${SKIN_ARCHIVE}.tmp"
          "${SKIN_STAGE}/resources" resources
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Packing the skin failed")
endif()
# A stronger deflate of the same entries, where the tool is installed; the archive reads the same
# either way, so a machine without it still builds, with a slightly larger archive.
find_program(SKIN_ADVZIP NAMES advzip)
if(SKIN_ADVZIP)
  execute_process(COMMAND "${SKIN_ADVZIP}" --recompress --shrink-insane --iter 15 --quiet
                          "${SKIN_ARCHIVE}.tmp"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Recompressing the skin archive failed")
  endif()
endif()
file(RENAME "${SKIN_ARCHIVE}.tmp" "${SKIN_ARCHIVE}")
