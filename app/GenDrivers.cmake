# Runs gen_drivers.py on every PPD in PPD_DIR (the list is known only once
# ppdc has run, so it is taken here, at build time).
file(GLOB ppds ${PPD_DIR}/*.ppd)
if(NOT ppds)
  message(FATAL_ERROR "no PPD files in ${PPD_DIR}")
endif()
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUTPUT} ${ppds} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gen_drivers.py failed")
endif()
