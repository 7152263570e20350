# Reading res/text_table.json, the one source of the window's texts, for the
# generators of the compiled-in table and of the Windows string table.
#
# tarvik_text_table_entries(<json> <quote-function> <line-template> <out-zh> <out-en>)
# For every text, calls <quote-function>(<value> <out-var>) to make its literal
# and appends <line-template> with @ID@ and @TEXT@ replaced: Chinese texts get
# string id 129 + index, English ones 238 + index.
function(tarvik_text_table_entries json quote template out_zh out_en)
  string(JSON count LENGTH "${json}" texts)
  math(EXPR last "${count} - 1")
  set(zh_entries "")
  set(en_entries "")
  foreach(i RANGE ${last})
    string(JSON index GET "${json}" texts ${i} index)
    foreach(language zh en)
      string(JSON text GET "${json}" texts ${i} ${language})
      if(language STREQUAL "zh")
        math(EXPR id "129 + ${index}")
      else()
        math(EXPR id "238 + ${index}")
      endif()
      cmake_language(CALL ${quote} "${text}" literal)
      string(REPLACE "@ID@" "${id}" line "${template}")
      string(REPLACE "@TEXT@" "${literal}" line "${line}")
      string(APPEND ${language}_entries "${line}")
    endforeach()
  endforeach()
  set(${out_zh} "${zh_entries}" PARENT_SCOPE)
  set(${out_en} "${en_entries}" PARENT_SCOPE)
endfunction()
