# Generates the compiled-in string table from res/text_table.json.
# Usage: cmake -DINPUT=<json> -DOUTPUT=<cpp> -P GenerateTextTable.cmake
file(READ "${INPUT}" json)
string(JSON count LENGTH "${json}" texts)
math(EXPR last "${count} - 1")

function(c_literal value out)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

set(zh_entries "")
set(en_entries "")
foreach(i RANGE ${last})
  string(JSON index GET "${json}" texts ${i} index)
  string(JSON zh GET "${json}" texts ${i} zh)
  string(JSON en GET "${json}" texts ${i} en)
  math(EXPR zh_id "129 + ${index}")
  math(EXPR en_id "238 + ${index}")
  c_literal("${zh}" zh_lit)
  c_literal("${en}" en_lit)
  string(APPEND zh_entries "    {${zh_id}, ${zh_lit}},\n")
  string(APPEND en_entries "    {${en_id}, ${en_lit}},\n")
endforeach()

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
