# cmake -DGROFF=... -DINPUT=page.1 -DOUTPUT=page.txt -P render_man_page.cmake
# Renders a man page as plain text: no overstrikes and no escape codes, so
# that Notepad shows it as it is.
execute_process(
  COMMAND ${GROFF} -man -rcR=1 -Tascii -P-c -P-b -P-u -P-o ${INPUT}
  OUTPUT_VARIABLE text
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff failed on ${INPUT}: ${status}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
