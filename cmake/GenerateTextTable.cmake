# Generates the compiled-in string table from res/text_table.json.
# Usage: cmake -DINPUT=<json> -DOUTPUT=<cpp> -P GenerateTextTable.cmake
include(${CMAKE_CURRENT_LIST_DIR}/TextTable.cmake)
file(READ "${INPUT}" json)

function(c_literal value out)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

tarvik_text_table_entries("${json}" c_literal "    {@ID@, @TEXT@},\n" zh_entries en_entries)

file(WRITE "${OUTPUT}.tmp"
"// Generated from res/text_table.json by cmake/GenerateTextTable.cmake. Do not edit.\n"
"#include \"res/string_table.h\"\n\n"
"namespace tarvik {\n\n"
"const StringTableEntry kStringTable[] = {\n"
"${zh_entries}"
"${en_entries}"
"};\n\n"
"const std::size_t kStringTableSize = sizeof(kStringTable) / sizeof(kStringTable[0]);\n\n"
"}  // namespace tarvik\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
