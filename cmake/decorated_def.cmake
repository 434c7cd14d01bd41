# Turns the .def ld writes for voxa.dll into the one that ships:
#   "LIBRARY voxa.dll", "EXPORTS", one VOXA_ name a line.
# With DECORATED (32-bit x86, a --kill-at DLL: "VOXA_Name = VOXA_Name@8 @1")
# the names are the decorated ones ("VOXA_Name@8"), from which dlltool -k
# and lib /def write import libraries whose symbols 32-bit __stdcall callers
# reference (_VOXA_Name@8) and which import by the plain name. Otherwise
# (x64: "VOXA_Name @1") the plain names.
file(STRINGS ${IN} lines)
set(out "LIBRARY voxa.dll\nEXPORTS\n")
set(n 0)
foreach(line ${lines})
  if(DECORATED)
    if(line MATCHES "^[ \t]*(VOXA_[A-Za-z0-9_]+)[ \t]*=[ \t]*(VOXA_[A-Za-z0-9_]+@[0-9]+)")
      set(name ${CMAKE_MATCH_2})
    elseif(line MATCHES "^[ \t]*(VOXA_[A-Za-z0-9_]+@[0-9]+)")
      set(name ${CMAKE_MATCH_1})
    else()
      continue()
    endif()
  elseif(line MATCHES "^[ \t]*(VOXA_[A-Za-z0-9_]+)([ \t]|$)")
    set(name ${CMAKE_MATCH_1})
  else()
    continue()
  endif()
  string(APPEND out "    ${name}\n")
  math(EXPR n "${n} + 1")
endforeach()
if(n EQUAL 0)
  message(FATAL_ERROR "no VOXA_ names in ${IN}")
endif()
file(WRITE ${OUT} "${out}")
