# Renders the manual page as plain text with CR LF line ends: cmake -DGROFF=groff
# -DPAGE=symvert.1 -DOUT=symvert.txt -P manual_text.cmake
execute_process(COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u -P-o ${PAGE}
  OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff failed on ${PAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
