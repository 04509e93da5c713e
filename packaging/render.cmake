# Renders a manual page with scdoc when SCDOC is given, then compresses it as Debian does
# (gzip -9n: no name or time inside, so that the same text gives the same bytes).
#   cmake [-D SCDOC=scdoc] -D IN=page.scd -D OUT=page -P render.cmake     -> page.gz
#   cmake -D IN=changelog -D OUT=changelog.gz -P render.cmake
get_filename_component(folder "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
if(SCDOC)
  execute_process(COMMAND ${SCDOC} INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${IN}: scdoc failed")
  endif()
  set(IN ${OUT})
  set(OUT ${OUT}.gz)
endif()
execute_process(COMMAND gzip -9nc INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${IN}: gzip failed")
endif()
