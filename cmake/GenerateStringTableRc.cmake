# Generates the Windows string-table resource from res/text_table.json, the
# same source as the compiled-in table (GenerateTextTable.cmake).
# Usage: cmake -DINPUT=<json> -DOUTPUT=<rc> -P GenerateStringTableRc.cmake
include(${CMAKE_CURRENT_LIST_DIR}/TextTable.cmake)
file(READ "${INPUT}" json)

# Resource-compiler string syntax: a quote is doubled, a backslash starts an
# escape, and CR/LF must be escapes because a string cannot span lines.
function(rc_literal value out)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\"\"" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

tarvik_text_table_entries("${json}" rc_literal "    @ID@ @TEXT@\n" zh_entries en_entries)

# Both languages' texts live under one resource language: the program picks a
# text by its id, not by the resource loader's language search.
file(WRITE "${OUTPUT}.tmp"
"// Generated from res/text_table.json by cmake/GenerateStringTableRc.cmake. Do not edit.\n"
"#pragma code_page(65001)\n\n"
"LANGUAGE 0x04, 0x02\n\n"
"STRINGTABLE\n"
"BEGIN\n"
"${zh_entries}"
"${en_entries}"
"END\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
