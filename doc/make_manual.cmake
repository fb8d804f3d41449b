# Runs rst2pdf and fails on any error or warning it reports: a missing picture or a broken
# table would otherwise leave a PDF with holes and a zero status.
#   cmake -DRST2PDF=... -DINPUT=x.rst -DSTYLE=x.style -DOUTPUT=x.pdf -DFOOTER=text -P make_manual.cmake
get_filename_component(folder ${INPUT} DIRECTORY)
execute_process(
  COMMAND ${RST2PDF} --compressed --stylesheets=${STYLE} --footer=${FOOTER} --repeat-table-rows
          ${INPUT} -o ${OUTPUT}.part
  WORKING_DIRECTORY ${folder}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR errors MATCHES "\\[(ERROR|WARNING)\\]|(ERROR|WARNING)/[0-9]"
   OR output MATCHES "\\[(ERROR|WARNING)\\]")
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "rst2pdf failed on ${INPUT} (status ${status}):\n${output}${errors}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
