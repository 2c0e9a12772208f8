# cmake -DIN=file -DOUT=file.gz -P VelmoraGzip.cmake
# Compresses as Debian wants its documentation and manual pages: best
# compression, no name or time stamp inside (so builds are reproducible).
execute_process(COMMAND gzip -9nc ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "gzip ${IN} failed: ${rc}")
endif()
