# Optional Authenticode signing of a built program, as a post-build step.
#
#   include(CodeSigning)
#   code_signing_after_build(<target> "<description>")
#
# Nothing is signed while INSTALLER_SIGN_CERT is empty. With osslsigncode (found on the build
# machine) the certificate is a PEM or DER chain and INSTALLER_SIGN_KEY its private key; with
# signtool (on a Windows build machine) the certificate is a .pfx and the key stays empty. The
# digest is SHA-256; a time-stamp server is optional but keeps the signature valid after the
# certificate expires.
include_guard(GLOBAL)

set(INSTALLER_SIGN_CERT "" CACHE FILEPATH
    "Code-signing certificate (chain) to sign the installer with; empty for no signing")
set(INSTALLER_SIGN_KEY "" CACHE FILEPATH "Private key of INSTALLER_SIGN_CERT (osslsigncode)")
set(INSTALLER_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the key's or the .pfx's password; empty for none")
set(INSTALLER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server; empty for none")
find_program(INSTALLER_OSSLSIGNCODE osslsigncode)
find_program(INSTALLER_SIGNTOOL NAMES signtool signtool.exe)

function(code_signing_after_build target description)
  if(NOT INSTALLER_SIGN_CERT)
    return()
  endif()
  if(NOT INSTALLER_OSSLSIGNCODE AND NOT INSTALLER_SIGNTOOL)
    message(FATAL_ERROR "INSTALLER_SIGN_CERT is set but neither osslsigncode nor signtool was found")
  endif()
  if(INSTALLER_OSSLSIGNCODE AND NOT INSTALLER_SIGN_KEY)
    message(FATAL_ERROR "Signing with osslsigncode needs INSTALLER_SIGN_KEY as well")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DFILE=$<TARGET_FILE:${target}>" "-DDESCRIPTION=${description}"
            "-DCERT=${INSTALLER_SIGN_CERT}" "-DKEY=${INSTALLER_SIGN_KEY}"
            "-DPASSWORD_FILE=${INSTALLER_SIGN_PASSWORD_FILE}"
            "-DTIMESTAMP_URL=${INSTALLER_SIGN_TIMESTAMP_URL}"
            "-DOSSLSIGNCODE=${INSTALLER_OSSLSIGNCODE}" "-DSIGNTOOL=${INSTALLER_SIGNTOOL}"
            -P "${PROJECT_SOURCE_DIR}/cmake/SignFile.cmake"
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
