# Installs a build and packs it as <OUT>/<NAME>.zip, every file under the folder <NAME>/.
# cmake -DBUILD=<build dir> -DNAME=<package name> -DOUT=<folder> [-DSOURCE=<source dir>] -P package.cmake
#
# The same sources give the same bytes wherever they are built: the files in name order, each
# dated SOURCE_DATE_EPOCH (by default the commit's time), with its mode as installed and no owner
# or other extra field (zip -X), and no folder entries.
foreach(required BUILD NAME OUT)
  if(NOT ${required})
    message(FATAL_ERROR "package.cmake needs -D${required}=...")
  endif()
endforeach()

set(top ${OUT}/${NAME})
set(archive ${OUT}/${NAME}.zip)
file(REMOVE_RECURSE ${top} ${archive})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${top} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "" AND SOURCE)
  execute_process(COMMAND git -C ${SOURCE} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
# A zip file holds no date before 1980.
if(NOT epoch MATCHES "^[0-9]+$" OR epoch LESS 315532800)
  set(epoch 315532800)
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${OUT} ${top}/*)
list(SORT files)
set(list_file ${OUT}/${NAME}.files)
list(JOIN files "\n" listed)
file(WRITE ${list_file} "${listed}\n")
# Only the owner's execute bit carries over from the installation: the umask does not reach the
# package.
execute_process(COMMAND find ${top} -type f -perm -u+x -exec chmod 755 {} + COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${top} -type f ! -perm -u+x -exec chmod 644 {} + COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${top} -exec touch -h -d @${epoch} {} + COMMAND_ERROR_IS_FATAL ANY)
# zip writes local time: UTC makes it the same everywhere.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -D -q ${archive} -@
                WORKING_DIRECTORY ${OUT} INPUT_FILE ${list_file} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${list_file})
file(SHA256 ${archive} sum)
message(STATUS "Package: ${archive}\nsha256 ${sum}")
