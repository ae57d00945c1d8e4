# intsum_write_tarball(DIR OUTPUT): writes DIR, under its own name, to the
# gzipped tarball OUTPUT so that the same files give the same bytes: names
# sorted, owner root, modes from the owner's bits, times SOURCE_DATE_EPOCH
# (source-date-epoch.cmake) and no time in the gzip header. GNU tar, which
# every Debian system has.
function(intsum_write_tarball dir output)
  find_program(INTSUM_TAR NAMES gtar tar REQUIRED)
  find_program(INTSUM_GZIP gzip REQUIRED)
  set(times)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(times --mtime=@$ENV{SOURCE_DATE_EPOCH})
  endif()
  get_filename_component(parent ${dir} DIRECTORY)
  get_filename_component(name ${dir} NAME)
  execute_process(
    COMMAND ${INTSUM_TAR} --sort=name --format=gnu --owner=0 --group=0 --numeric-owner
            --mode=u+rw,go=u-w ${times} -C ${parent} -cf - ${name}
    COMMAND ${INTSUM_GZIP} -9n
    OUTPUT_FILE ${output}.tmp
    RESULTS_VARIABLE results)
  if(NOT results STREQUAL "0;0")
    file(REMOVE ${output}.tmp)
    message(FATAL_ERROR "tar or gzip failed (${results}) writing ${output}")
  endif()
  file(RENAME ${output}.tmp ${output})
endfunction()
