# Fails when FILE is larger than LIMIT bytes: cmake -DFILE=... -DLIMIT=... -P CheckFileSize.cmake
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, more than the ${LIMIT} a download may take")
endif()
message(STATUS "${FILE}: ${size} bytes (at most ${LIMIT})")
