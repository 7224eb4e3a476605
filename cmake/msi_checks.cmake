# Run as a script on a built package (cmake -D PACKAGE=... -D MSIBUILD=...
# -D MSIINFO=... -D WORK=folder -P msi_checks.cmake): adds the checks of the
# properties an administrator gives. A value outside what its setting takes
# stops the installation, before anything is changed, with a message naming
# the property (a type-19 custom action, in both sequences, so that a silent
# install ends with 1603 and an interactive one shows the message).
#
# Windows Installer conditions have no patterns, only "contains" (><),
# "starts with" (<<), "ends with" (>>) and equality, so a value is refused
# when it contains any character outside its set: every ASCII control
# character (a line break would start a new settings line or section) and
# every printable one its setting does not take. A condition's literal cannot
# hold a quotation mark, and the SQL that msibuild runs no apostrophe: those
# two are compared through the properties QUOTATION_MARK and APOSTROPHE,
# which go in through an imported Property table. What conditions cannot
# express (the number of digits, a port's range, characters beyond ASCII) the
# service checks again when it reads the file.
cmake_minimum_required(VERSION 3.20)

# The condition that holds when property contains a character of 1-127 that
# is neither a letter or digit it takes (letters, digits: yes or no) nor in others.
function(contains_other_than property letters digits others result)
  set(condition "")
  foreach(code RANGE 1 127)
    string(ASCII ${code} character)
    if(code GREATER_EQUAL 48 AND code LESS_EQUAL 57)
      if(digits)
        continue()
      endif()
    elseif((code GREATER_EQUAL 65 AND code LESS_EQUAL 90) OR (code GREATER_EQUAL 97 AND code LESS_EQUAL 122))
      if(letters)
        continue()
      endif()
    else()
      string(FIND "${others}" "${character}" at)
      if(at GREATER_EQUAL 0)
        continue()
      endif()
    endif()
    if(code EQUAL 34)
      string(APPEND condition " OR ${property}><QUOTATION_MARK")
    elseif(code EQUAL 39)
      string(APPEND condition " OR ${property}><APOSTROPHE")
    else()
      string(APPEND condition " OR ${property}><\"${character}\"")
    endif()
  endforeach()
  string(SUBSTRING "${condition}" 4 -1 condition)
  set(${result} "${condition}" PARENT_SCOPE)
endfunction()

# The condition that holds when property holds a brace that is not part of
# one of fields (each "{name}", lower case; matched in any case). Without
# patterns this takes substrings: a start of a field followed by a character
# of the set (letters, digits and others) that does not continue it, or by
# the end; an end of a field preceded by one that does not lead into it, or
# by the start.
function(braces_other_than property fields others result)
  set(characters "")
  foreach(code RANGE 33 126)
    string(ASCII ${code} character)
    string(FIND "${others}" "${character}" at)
    if((code GREATER_EQUAL 48 AND code LESS_EQUAL 57) OR (code GREATER_EQUAL 97 AND code LESS_EQUAL 122) OR
       at GREATER_EQUAL 0)
      string(APPEND characters "${character}")
    endif()
  endforeach()
  string(LENGTH "${characters}" count)
  math(EXPR last_character "${count} - 1")
  set(starts "")
  set(ends "")
  foreach(field IN LISTS fields)
    string(LENGTH "${field}" length)
    math(EXPR last "${length} - 1")
    foreach(cut RANGE 1 ${last})
      string(SUBSTRING "${field}" 0 ${cut} start)
      math(EXPR from "${length} - ${cut}")
      string(SUBSTRING "${field}" ${from} -1 end)
      list(APPEND starts "${start}")
      list(APPEND ends "${end}")
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES starts)
  list(REMOVE_DUPLICATES ends)
  set(condition "")
  foreach(start IN LISTS starts)
    string(APPEND condition " OR ${property}~>>\"${start}\"")
    foreach(at RANGE 0 ${last_character})
      string(SUBSTRING "${characters}" ${at} 1 character)
      set(continues NO)
      foreach(field IN LISTS fields)
        string(FIND "${field}" "${start}${character}" found)
        if(found EQUAL 0)
          set(continues YES)
        endif()
      endforeach()
      if(NOT continues)
        string(APPEND condition " OR ${property}~><\"${start}${character}\"")
      endif()
    endforeach()
  endforeach()
  foreach(end IN LISTS ends)
    string(APPEND condition " OR ${property}~<<\"${end}\"")
    foreach(at RANGE 0 ${last_character})
      string(SUBSTRING "${characters}" ${at} 1 character)
      set(leads NO)
      foreach(field IN LISTS fields)
        string(FIND "${field}" "${character}${end}" found REVERSE)
        string(LENGTH "${field}" length)
        string(LENGTH "${character}${end}" tail)
        math(EXPR tail_at "${length} - ${tail}")
        if(found GREATER_EQUAL 0 AND found EQUAL tail_at)
          set(leads YES)
        endif()
      endforeach()
      if(NOT leads)
        string(APPEND condition " OR ${property}~><\"${character}${end}\"")
      endif()
    endforeach()
  endforeach()
  string(SUBSTRING "${condition}" 4 -1 condition)
  set(${result} "${condition}" PARENT_SCOPE)
endfunction()

function(run_msibuild)
  execute_process(COMMAND "${MSIBUILD}" "${PACKAGE}" ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "msibuild ${ARGN} failed")
  endif()
endfunction()

contains_other_than(COUNTRY NO YES "" country)
contains_other_than(AREA NO YES "" area)
contains_other_than(OUTSIDE NO YES "" outside)
# {user} and {computer}, which the service fills in with the names of the
# user and the computer, go into the file as they are written.
contains_other_than(PHONE_ADDRESS YES YES ".-_:[]{}" address)
braces_other_than(PHONE_ADDRESS "{user};{computer}" ".-_:[]{}" stray_braces)
string(APPEND address " OR PHONE_ADDRESS<<\":\" OR PHONE_ADDRESS<<\".\" OR PHONE_ADDRESS<<\"-\""
       " OR PHONE_ADDRESS>>\":\" OR (PHONE_ADDRESS><\"[\" AND NOT PHONE_ADDRESS<<\"[\")"
       " OR (PHONE_ADDRESS><\"]\" AND NOT PHONE_ADDRESS<<\"[\") OR ${stray_braces}")
contains_other_than(BLOCK NO YES "+*#, " block)
# A + only at the start of a prefix.
foreach(before 0 1 2 3 4 5 6 7 8 9 * "#" +)
  string(APPEND block " OR BLOCK><\"${before}+\"")
endforeach()
string(CONCAT phone "NOT (PHONE=\"yealink\" OR PHONE=\"snom\" OR PHONE=\"grandstream\" OR PHONE=\"poly\""
       " OR PHONE=\"fritzbox\" OR PHONE=\"asterisk\" OR PHONE=\"baresip\")")
set(https "NOT (PHONE_HTTPS=\"yes\" OR PHONE_HTTPS=\"no\")")
set(confirm "NOT (CONFIRM=\"yes\" OR CONFIRM=\"no\")")

# The messages are formatted text: no square brackets; and SQL: no apostrophes.
set(checks
  PHONE phone "PHONE takes one of yealink, snom, grandstream, poly, fritzbox, asterisk, baresip."
  PHONE_ADDRESS address
  "PHONE_ADDRESS takes the phone as HOST or HOST:PORT, for example phone.example.com or 192.0.2.10:8080 (an IPv6 address in square brackets), where {user} and {computer} stand for the names of the user and the computer, and nothing else."
  PHONE_HTTPS https "PHONE_HTTPS takes yes or no."
  COUNTRY country "COUNTRY takes the country code in digits, for example COUNTRY=49, and nothing else."
  AREA area "AREA takes the area code in digits without the national prefix, for example AREA=5555, and nothing else."
  OUTSIDE outside "OUTSIDE takes the digits that get an outside line, for example OUTSIDE=0, and nothing else."
  CONFIRM confirm "CONFIRM takes yes or no."
  BLOCK block
  "BLOCK takes prefixes of digits, * and # (a + only at the start) separated by commas or blanks, for example BLOCK=0900,0137."
)
set(queries "")
set(sequence 60)
list(LENGTH checks count)
math(EXPR last "${count} - 1")
foreach(at RANGE 0 ${last} 3)
  math(EXPR condition_at "${at} + 1")
  math(EXPR message_at "${at} + 2")
  list(GET checks ${at} property)
  list(GET checks ${condition_at} condition_name)
  list(GET checks ${message_at} message)
  # Never on removal, so that a package can always be taken off.
  set(condition "${property} AND NOT REMOVE~=\"ALL\" AND (${${condition_name}})")
  list(APPEND queries -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Target`) VALUES ('Check_${property}', 19, '${message}')")
  foreach(table InstallExecuteSequence InstallUISequence)
    # Not through a list: the semicolon among the characters would split it.
    execute_process(COMMAND "${MSIBUILD}" "${PACKAGE}" -q
      "INSERT INTO `${table}` (`Action`, `Condition`, `Sequence`) VALUES ('Check_${property}', '${condition}', ${sequence})"
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "msibuild could not add the check of ${property}")
    endif()
  endforeach()
  math(EXPR sequence "${sequence} + 1")
endforeach()
run_msibuild(${queries})

# The two characters a literal cannot hold, as properties.
execute_process(COMMAND "${MSIINFO}" export "${PACKAGE}" Property OUTPUT_VARIABLE properties RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "msiinfo export ${PACKAGE} Property failed")
endif()
file(WRITE "${WORK}/Property.idt" "${properties}QUOTATION_MARK\t\"\r\nAPOSTROPHE\t'\r\n")
run_msibuild(-i "${WORK}/Property.idt")
