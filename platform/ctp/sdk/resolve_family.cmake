# Writes header IN to OUT with the layout-family switch resolved for FAMILY (cmake -P).
execute_process(
  COMMAND ${UNIFDEF} -x 2 -B -DQUOTELOOM_CTP_FAMILY=${FAMILY} ${IN}
  OUTPUT_VARIABLE text
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "unifdef failed on ${IN} (${rc})")
endif()
file(WRITE ${OUT} "// CTP ${RELEASE} layout, written by the Quoteloom build from its stand-in headers.\n${text}")
