# Builds the demo's folder, then renders every window on it under Xvfb into OUT.
#   -DCLI=tamaril-cli -DSHOTS=ui_screenshots -DWORK=folder -DOUT=folder
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CLI} demo ${WORK}/demo RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the demo failed (${status}): ${errors}")
endif()
file(REMOVE_RECURSE ${OUT})
find_program(XVFB_RUN xvfb-run REQUIRED)
# The windows as a Czech system shows them (Qt's dates and numbers follow the system's locale).
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=xcb LANG=cs_CZ.UTF-8
  ${XVFB_RUN} -a -s "-screen 0 1280x800x24" ${SHOTS} ${WORK}/demo ${OUT}
  RESULT_VARIABLE status OUTPUT_VARIABLE shown ERROR_VARIABLE errors)
message(STATUS "${shown}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ui_screenshots failed (${status}): ${errors}")
endif()
