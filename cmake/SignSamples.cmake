# Signs every sample image in DIR with the demo key KEY, as minisign's
# default form, each into a signature file beside it.
#   cmake -DMINISIGN=minisign -DKEY=demo.key -DDIR=images -P SignSamples.cmake
file(GLOB images ${DIR}/*.dat)
foreach(image IN LISTS images)
  execute_process(COMMAND ${MINISIGN} -S -s ${KEY} -m ${image} -t "Tarvik Update sample image"
    OUTPUT_QUIET RESULT_VARIABLE signed)
  if(NOT signed EQUAL 0)
    message(FATAL_ERROR "minisign could not sign ${image}")
  endif()
endforeach()
