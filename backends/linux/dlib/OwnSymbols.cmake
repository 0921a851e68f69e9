# Renames every symbol an object file defines, but those whose names contain
# KEEP, by appending SUFFIX; references inside the object follow. Its copies
# of inline functions and template instances are then its own, never merged
# with another object's built for another processor.
# cmake -DNM=… -DOBJCOPY=… -DINPUT=in.o -DOUTPUT=out.o -DKEEP=name -DSUFFIX=_x -P OwnSymbols.cmake
execute_process(COMMAND ${NM} --defined-only -P ${INPUT}
  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not list ${INPUT}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(map "")
foreach(line IN LISTS lines)
  # "name type value size": every kind, the names of comdat groups (n) too,
  # or the linker would still merge the groups they name.
  if(line MATCHES "^([^ ]+) ([A-Za-z]) ")
    set(symbol ${CMAKE_MATCH_1})
    string(FIND "${symbol}" "${KEEP}" kept)
    if(kept EQUAL -1)
      string(APPEND map "${symbol} ${symbol}${SUFFIX}\n")
    endif()
  endif()
endforeach()
file(WRITE ${OUTPUT}.symbols "${map}")
execute_process(COMMAND ${OBJCOPY} --redefine-syms=${OUTPUT}.symbols ${INPUT} ${OUTPUT}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJCOPY} could not rename the symbols of ${INPUT}")
endif()
