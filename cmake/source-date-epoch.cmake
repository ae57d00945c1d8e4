# intsum_source_date_epoch(SOURCE_DIR): sets the environment's
# SOURCE_DATE_EPOCH, which CPack and tarball.cmake take for every file time,
# to the time of the last commit in SOURCE_DIR, unless it is set already.
function(intsum_source_date_epoch source_dir)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    return()
  endif()
  find_program(INTSUM_GIT git)
  if(INTSUM_GIT)
    execute_process(COMMAND ${INTSUM_GIT} -C ${source_dir} log -1 --format=%ct
      OUTPUT_VARIABLE time RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(INTSUM_GIT AND NOT failed AND time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${time})
  else()
    message(WARNING "No SOURCE_DATE_EPOCH and no git history in ${source_dir}: "
                    "the archives take the files' own times, so they differ from build to build")
  endif()
endfunction()
