# Writes OUTPUT, INPUT compressed as Debian compresses manual pages and
# changelogs (gzip -9n: no name or time stamp, so the bytes depend only on
# INPUT), unless OUTPUT is already newer. The build runs it, and so does the
# install, which then needs nothing built beyond the programs.
#
#   cmake -DINPUT=FILE -DOUTPUT=FILE.gz -P compress.cmake   (or include() it)
if(NOT EXISTS "${OUTPUT}" OR "${INPUT}" IS_NEWER_THAN "${OUTPUT}")
  get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
  file(MAKE_DIRECTORY "${output_dir}")
  execute_process(COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh "${INPUT}" "${OUTPUT}" COMMAND_ERROR_IS_FATAL ANY)
endif()
