# Turns a gettext catalogue (.po) into the C++ table of texts/catalogue.h:
#   cmake -DPO=po/zh_CN.po -DOUTPUT=catalogue_zh_CN.cpp -P cmake/po_to_cpp.cmake
# Every translated entry that is not fuzzy becomes one row: msgid,
# msgid_plural, msgstr (msgstr[0] for plurals: Chinese has one form) and
# whether it is a c-format. Strings spread over several lines are joined. The
# .po's escapes (\n \t \" \\) are C's and stay as written in the C++ literals.
cmake_minimum_required(VERSION 3.25)

if(NOT PO OR NOT OUTPUT)
  message(FATAL_ERROR "po_to_cpp.cmake needs -DPO=<file.po> -DOUTPUT=<file.cpp>")
endif()

file(READ "${PO}" content)
# CMake lists split at ";" and keep brackets together: both are set aside
# while the file is walked line by line.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
string(REPLACE ";" "${semicolon}" content "${content}")
string(REPLACE "[" "${open_bracket}" content "${content}")
string(REPLACE "]" "${close_bracket}" content "${content}")
string(REPLACE "\r" "" content "${content}")
string(REPLACE "\n" ";" lines "${content}")
list(APPEND lines "")  # the last entry ends at the end of the file

set(rows "")
set(count 0)
set(line_number 0)

macro(reset_entry)
  set(msgid "")
  set(msgid_plural "")
  set(msgstr "")
  set(has_plural OFF)
  set(fuzzy OFF)
  set(c_format OFF)
  set(field "")
  set(seen_msgid OFF)
endmacro()

function(literal out text)
  string(REPLACE "${semicolon}" ";" text "${text}")
  string(REPLACE "${open_bracket}" "[" text "${text}")
  string(REPLACE "${close_bracket}" "]" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

macro(finish_entry)
  if(seen_msgid AND NOT msgid STREQUAL "" AND NOT msgstr STREQUAL "" AND NOT fuzzy)
    literal(id_literal "${msgid}")
    if(has_plural)
      literal(plural_literal "${msgid_plural}")
    else()
      set(plural_literal "nullptr")
    endif()
    literal(str_literal "${msgstr}")
    if(c_format)
      set(format_literal "true")
    else()
      set(format_literal "false")
    endif()
    string(APPEND rows "    {${id_literal}, ${plural_literal}, ${str_literal}, ${format_literal}},\n")
    math(EXPR count "${count} + 1")
  endif()
  reset_entry()
endmacro()

reset_entry()
foreach(line IN LISTS lines)
  math(EXPR line_number "${line_number} + 1")
  if(line MATCHES "^#~" OR line MATCHES "^[ \t]*$")
    # An obsolete entry or a blank line: the entry being read is over.
    finish_entry()
  elseif(line MATCHES "^#,(.*)$")
    set(flags "${CMAKE_MATCH_1}")  # the next match attempt clears CMAKE_MATCH_1
    finish_entry()
    if(flags MATCHES "(^|[ ,])fuzzy([ ,]|$)")
      set(fuzzy ON)
    endif()
    if(flags MATCHES "(^|[ ,])c-format([ ,]|$)")
      set(c_format ON)
    endif()
  elseif(line MATCHES "^#")
    if(seen_msgid)
      finish_entry()
    endif()
  elseif(line MATCHES "^msgctxt ")
    message(FATAL_ERROR "${PO}:${line_number}: msgctxt is not supported by the built-in catalogue")
  elseif(line MATCHES "^msgid \"(.*)\"$")
    if(seen_msgid)
      finish_entry()
    endif()
    set(seen_msgid ON)
    set(msgid "${CMAKE_MATCH_1}")
    set(field msgid)
  elseif(line MATCHES "^msgid_plural \"(.*)\"$")
    set(has_plural ON)
    set(msgid_plural "${CMAKE_MATCH_1}")
    set(field msgid_plural)
  elseif(line MATCHES "^msgstr \"(.*)\"$")
    set(msgstr "${CMAKE_MATCH_1}")
    set(field msgstr)
  elseif(line MATCHES "^msgstr${open_bracket}0${close_bracket} \"(.*)\"$")
    set(msgstr "${CMAKE_MATCH_1}")
    set(field msgstr)
  elseif(line MATCHES "^msgstr${open_bracket}[1-9][0-9]*${close_bracket} \"(.*)\"$")
    set(field ignored)  # forms beyond the first: Chinese has only one
  elseif(line MATCHES "^\"(.*)\"$")
    if(field STREQUAL "")
      message(FATAL_ERROR "${PO}:${line_number}: a string continued outside an entry")
    elseif(NOT field STREQUAL "ignored")
      string(APPEND ${field} "${CMAKE_MATCH_1}")
    endif()
  else()
    message(FATAL_ERROR "${PO}:${line_number}: not a line of a .po file")
  endif()
endforeach()

if(count EQUAL 0)
  set(rows "    {\"\", nullptr, nullptr, false},\n")
endif()
file(WRITE "${OUTPUT}.new"
  "// Made from ${PO} by cmake/po_to_cpp.cmake at build time: edit the .po, not this.\n"
  "#include \"texts/catalogue.h\"\n\n"
  "namespace tarvik {\n\n"
  "const CatalogueEntry kCatalogueEntries[] = {\n${rows}};\n"
  "const size_t kCatalogueEntryCount = ${count};\n\n"
  "}  // namespace tarvik\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
