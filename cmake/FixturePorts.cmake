# The fixed ports of this build folder's test servers: the demo download server, the analytics
# collector and the revocation list that never answers. Each folder takes its own group from its
# path, so two suites (or a suite and a demo) in different folders never meet on a port; the
# groups lie below the system's range for outgoing ports.
include_guard(GLOBAL)

string(SHA1 _folder_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_folder_hash}" 0 4 _folder_hex)
math(EXPR _folder_slot "0x${_folder_hex} % 3000")
math(EXPR _demo_port "20000 + 4 * ${_folder_slot}")
set(INSTALLER_DEMO_PORT ${_demo_port} CACHE STRING "Port of this build's local demo server")
math(EXPR _collector_port "${INSTALLER_DEMO_PORT} + 1")
set(INSTALLER_COLLECTOR_PORT ${_collector_port} CACHE STRING
    "Port of this build's local analytics collector")
math(EXPR _stall_port "${INSTALLER_DEMO_PORT} + 2")
set(PACKAGE_STALL_PORT ${_stall_port} CACHE STRING
    "Port of the test authority's revocation list that never answers")
# The fixture scripts and the demo read them from here.
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/fixture-ports" CONTENT
     "DEMO_PORT=${INSTALLER_DEMO_PORT}\nCOLLECTOR_PORT=${INSTALLER_COLLECTOR_PORT}\nSTALL_PORT=${PACKAGE_STALL_PORT}\n")
