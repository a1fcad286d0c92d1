# Runs inside cpack, on the staged installation before it is packed:
# manual pages and the changelog are compressed with 'gzip -9n' (no name,
# no time stamp), as Debian Policy asks; a plain 'cmake --install' keeps
# them as they are.
file(GLOB_RECURSE files
     "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man*/*"
     "${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/*/changelog")
if(NOT files)
  message(FATAL_ERROR "compress.cmake: no manual page under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(f ${files})
  if(NOT f MATCHES "\\.gz$")
    execute_process(COMMAND gzip -9n "${f}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "gzip -9n ${f} failed")
    endif()
  endif()
endforeach()
